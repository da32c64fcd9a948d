#pragma once

#include <QString>
#include <QtGlobal>

class IFSFilterInfoProducer;
class QObject;

// Something that receives a filter's reports: its object has the slots
// onPathFiltered(quint32,QString,QString,quint32) and onPathInvalid(quint32,QString,QString).
// The connections are direct, so a report reaches the consumer on the thread that made the
// query; a consumer that relays it lets its own receivers decide how they take it.
class IFSFilterInfoConsumer
{
public:
    virtual ~IFSFilterInfoConsumer() = default;

    virtual void onPathFiltered(quint32 spaceID, const QString& path, const QString& name,
                                quint32 type) = 0;
    virtual void onPathInvalid(quint32 spaceID, const QString& path, const QString& name) = 0;
    // The object that receives the signals; null until an implementer provides one.
    virtual QObject* consumerObject() { return nullptr; }
    // Connects or disconnects the producer's two signals to this consumer's slots; false when
    // either object is missing or a connection could not be made or found.
    virtual bool registerIFSFilterInfoProducer(IFSFilterInfoProducer* producer);
    virtual bool unregisterIFSFilterInfoProducer(IFSFilterInfoProducer* producer);
};
