#pragma once

class QObject;

// Something that emits log messages as signals; consumers connect to the object it names.
class ILogProducer
{
public:
    virtual ~ILogProducer() = default;

    // The object that emits the producer's signals, or null.
    virtual QObject* logProducerObject() { return nullptr; }
};
