#include "SY2Interfaces/IFSFilterInfoProducer.h"

#include "SY2Interfaces/IFSFilterInfoConsumer.h"

bool IFSFilterInfoProducer::registerIFSFilterInfoConsumer(IFSFilterInfoConsumer* consumer)
{
    return consumer && consumer->registerIFSFilterInfoProducer(this);
}

bool IFSFilterInfoProducer::unregisterIFSFilterInfoConsumer(IFSFilterInfoConsumer* consumer)
{
    return consumer && consumer->unregisterIFSFilterInfoProducer(this);
}
