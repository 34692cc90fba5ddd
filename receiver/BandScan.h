// A band scan as the receiver runs it: first the survey alone (no stage
// runs while it reads the band's spectrum and measures each carrier's
// rate), then each carrier visited with the whole chain to identify it.
// An input that can wait (a recording) is held once the survey has its
// carriers, until the visits have begun, so none of its signal goes by
// unread. Driven from the receiver's owner thread by step(); the owner
// passes on the chain's frame results and service lists.
#pragma once

#include "receiver/BandSurvey.h"
#include "receiver/CarrierIdentifier.h"
#include "receiver/ScannedCarrier.h"
#include "receiver/SurveyFeed.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class Receiver;
struct FrameTag;

class BandScan {
public:
    explicit BandScan(Receiver& receiver);
    ~BandScan();
    BandScan(const BandScan&) = delete;
    BandScan& operator=(const BandScan&) = delete;

    // Owner thread: moves on; false once every carrier has been visited.
    bool step();
    // The survey's answer came on the last step() (once).
    bool surveyJustDone();
    // Lets a held input go and looks at the band no more: before the input
    // is stopped.
    void release() { feed.release(); }
    // Owner thread: the scan is given up; the input goes on and the
    // receiver is tuned as it was before.
    void cancel();
    // The input has ended: the carriers seen so far are the answer. Call
    // once the input has stopped.
    void end();

    std::vector<SurveyedCarrier> carriers() const;
    std::vector<CarrierIdentity> identities() const;
    // The carriers with what visiting them told so far.
    // Owner thread.
    std::vector<ScannedCarrier> results() const;
    // The carrier being visited (from 0), or −1 while surveying or when done.
    int visitingIndex() const;
    bool identifiedAll() const { return identifier && identifier->finished(); }
    // Samples the survey read, and the signal the scan has taken in all.
    uint64_t surveySamples() const { return survey->samplesTaken(); }
    uint64_t samplesTaken() const;

    // From the chain's observers (any thread).
    void frameReleased(const FrameTag& tag);
    void servicesListed(const std::vector<std::string>& lines);

private:
    Receiver& receiver;
    std::shared_ptr<BandSurvey> survey;
    SurveyFeed feed;
    std::unique_ptr<CarrierIdentifier> identifier;
    std::atomic<CarrierIdentifier*> visiting{nullptr};
    bool announced = false;
};

// The chain's frame results and service lists on to the scan under way
// (any thread), nowhere when none is: for owners whose observers outlive
// their scans.
class ScanRelay {
public:
    void attach(BandScan* scan);
    void frameReleased(const FrameTag& tag);
    void servicesListed(const std::vector<std::string>& lines);

private:
    std::mutex mutex;
    BandScan* scan = nullptr;
};
