// Receiver controls only some radios have, found on a device by a run-time type check.
#pragma once

// The LimeSDR's channel and antenna path (0 NONE, 1 LNAH, 2 LNAL, 3 LNAW).
class LimeSDRRxControl {
public:
    virtual ~LimeSDRRxControl() = default;
    virtual void setRXChannel(int channel) = 0;
    virtual void setRXPath(int path) = 0;
};

// The SDRplay's tuner channel.
class SDRPlayRxControl {
public:
    virtual ~SDRPlayRxControl() = default;
    virtual void setRXChannel(int channel) = 0;
};
