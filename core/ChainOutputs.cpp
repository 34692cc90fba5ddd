#include "core/ChainOutputs.h"

#include "core/Log.h"
#include "core/ProcessingChain.h"
#include "stream/OutputSinks.h"

#include <QMetaObject>
#include <QObject>

#include <atomic>
#include <memory>

void attachOutputSinks(ProcessingChain& chain, OutputSinks& sinks)
{
    auto toSinks = [&sinks](const uint8_t* bytes, size_t length) { sinks.writeToSinks(bytes, length); };
    chain.setTransportStreamObserver(toSinks);
    chain.setGsePduObserver(toSinks);
    chain.setSymbolObserver([&sinks](const WorkBuffer& block) {
        sinks.recording().write(RecordType::Symbols, block.data(), block.size());
    });
    chain.setSampleBlockObserver([&sinks](const WorkBuffer& block) {
        sinks.recording().write(RecordType::Samples, block.data(), block.size());
    });
}

std::function<void(float)> queuedRollOffNotification(QObject* receiver)
{
    auto complained = std::make_shared<std::atomic<bool>>(false);
    return [receiver, complained](float rollOff) {
        const bool posted = QMetaObject::invokeMethod(receiver, "rolloffChangeNotification", Qt::QueuedConnection,
                                                      Q_ARG(float, rollOff));
        if (!posted && !complained->exchange(true))
            LogLine() << "rolloffChangeNotification(float) not found in the receiver";
    };
}
