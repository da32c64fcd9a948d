#include "SY2Interfaces/IFSFilterInfoConsumer.h"

#include "SY2Interfaces/IFSFilterInfoProducer.h"
#include "diagnostics/CAssert.h"
#include "diagnostics/CLogRecord.h"
#include "threading/threads/CCallStack.h"

#include <QObject>

bool IFSFilterInfoConsumer::registerIFSFilterInfoProducer(IFSFilterInfoProducer* producer)
{
    SY_FUNCTION("IFSFilterInfoConsumer::registerIFSFilterInfoProducer");
    QObject* sender = producer ? producer->producerObject() : nullptr;
    QObject* receiver = consumerObject();
    if (!sender || !receiver) {
        SY_CRITICAL << "cannot connect filter reports: producer object" << sender
                    << "consumer object" << receiver;
        return false;
    }
    // Direct: the consumer hears of an entry on the thread that queried it.
    bool connres = static_cast<bool>(QObject::connect(
        sender, SIGNAL(pathFiltered(quint32, QString, QString, quint32)), receiver,
        SLOT(onPathFiltered(quint32, QString, QString, quint32)), Qt::DirectConnection));
    SY_ASSERT(connres);
    bool result = connres;
    connres = static_cast<bool>(
        QObject::connect(sender, SIGNAL(pathInvalid(quint32, QString, QString)), receiver,
                         SLOT(onPathInvalid(quint32, QString, QString)), Qt::DirectConnection));
    SY_ASSERT(connres);
    return result && connres;
}

bool IFSFilterInfoConsumer::unregisterIFSFilterInfoProducer(IFSFilterInfoProducer* producer)
{
    SY_FUNCTION("IFSFilterInfoConsumer::unregisterIFSFilterInfoProducer");
    QObject* sender = producer ? producer->producerObject() : nullptr;
    QObject* receiver = consumerObject();
    if (!sender || !receiver) {
        SY_CRITICAL << "cannot disconnect filter reports: producer object" << sender
                    << "consumer object" << receiver;
        return false;
    }
    const bool filtered =
        QObject::disconnect(sender, SIGNAL(pathFiltered(quint32, QString, QString, quint32)),
                            receiver, SLOT(onPathFiltered(quint32, QString, QString, quint32)));
    const bool invalid =
        QObject::disconnect(sender, SIGNAL(pathInvalid(quint32, QString, QString)), receiver,
                            SLOT(onPathInvalid(quint32, QString, QString)));
    return filtered && invalid;
}
