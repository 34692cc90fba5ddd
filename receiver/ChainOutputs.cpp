#include "receiver/ChainOutputs.h"

#include "core/Log.h"
#include "receiver/ProcessingChain.h"
#include "stream/OutputSinks.h"
#include "stream/RecordFile.h"

#include <QMetaObject>
#include <QObject>

#include <atomic>
#include <memory>

void attachRecording(ProcessingChain& chain, RecordFile& recording)
{
    attachRecordings(chain, {&recording});
}

void attachRecordings(ProcessingChain& chain, std::vector<RecordFile*> recordings)
{
    chain.setSymbolObserver([recordings](const WorkBuffer& block) {
        for (RecordFile* r : recordings)
            r->write(RecordType::Symbols, block.data(), block.size());
    });
    chain.setSampleBlockObserver([recordings](const WorkBuffer& block, uint64_t origin) {
        for (RecordFile* r : recordings)
            r->write(RecordType::Samples, block.data(), block.size(), int64_t(origin));
    });
}

void attachOutputSinks(ProcessingChain& chain, OutputSinks& sinks)
{
    auto toSinks = [&sinks](const uint8_t* bytes, size_t length) { sinks.writeToSinks(bytes, length); };
    chain.setTransportStreamObserver(toSinks);
    chain.setGsePduObserver(toSinks);
    attachRecording(chain, sinks.recording());
}

RollOffFollower::RollOffFollower(ProcessingChain& chain, ReceiverSettings& settings)
    : chain(chain), settings(settings), reported(settings.rollOff)
{
}

std::function<void(float)> RollOffFollower::reporter()
{
    return [this](float rollOff) {
        reported.store(rollOff);
        pending.store(true);
    };
}

bool RollOffFollower::applyReported()
{
    if (!pending.exchange(false))
        return false;
    return apply(reported.load());
}

bool RollOffFollower::apply(float rollOff)
{
    if (!settings.dvbS2())
        rollOff = 0.35f;   // DVB-S has one roll-off
    if (rollOff == settings.rollOff)
        return false;
    LogLine() << "auto rolloff changed to " << rollOff;
    settings.rollOff = rollOff;
    // DVB-S2 frames have redesigned the filter already as they announced it.
    if (chain.firWorker().rollOff() != rollOff)
        applyMatchedFilter(chain, settings);
    return true;
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
