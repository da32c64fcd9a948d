#pragma once

class IFSFilterInfoConsumer;
class QObject;

// Something that reports the entries a filter leaves alone. Its object emits
// pathFiltered(quint32 spaceID, QString path, QString name, quint32 type) for an entry a rule
// filtered and pathInvalid(quint32 spaceID, QString path, QString name) for one the platform
// cannot store; consumers connect to those signals through the operations below.
class IFSFilterInfoProducer
{
public:
    virtual ~IFSFilterInfoProducer() = default;

    // The object that emits the signals; null until an implementer provides one.
    virtual QObject* producerObject() { return nullptr; }
    // Connects or disconnects both signals to the consumer's slots; false when either object is
    // missing or a connection could not be made or found.
    virtual bool registerIFSFilterInfoConsumer(IFSFilterInfoConsumer* consumer);
    virtual bool unregisterIFSFilterInfoConsumer(IFSFilterInfoConsumer* consumer);
};
