// The part of the SDRplay API 3 interface (libsdrplay_api.so.3) the SDRplay
// device uses: its types, constants and function signatures, declared here
// because the vendor's header and library are not needed to build. Layouts
// follow the published interface. Structures the device reaches only through
// the library's pointers are declared up to the last member it touches; the
// library owns the rest.
#pragma once

#include <cstdint>

using sdrplay_api_Handle = void*;

enum sdrplay_api_ErrT : int {
    sdrplay_api_Success = 0,
    sdrplay_api_Fail = 1,
    sdrplay_api_InvalidParam = 2,
    sdrplay_api_OutOfRange = 3,
    sdrplay_api_NotInitialised = 10,
    sdrplay_api_ServiceNotResponding = 14,
    sdrplay_api_StopPending = 16,
};

enum sdrplay_api_TunerSelectT : int {
    sdrplay_api_Tuner_Neither = 0,
    sdrplay_api_Tuner_A = 1,
    sdrplay_api_Tuner_B = 2,
    sdrplay_api_Tuner_Both = 3,
};

enum sdrplay_api_RspDuoModeT : int {
    sdrplay_api_RspDuoMode_Unknown = 0,
    sdrplay_api_RspDuoMode_Single_Tuner = 1,
    sdrplay_api_RspDuoMode_Dual_Tuner = 2,
    sdrplay_api_RspDuoMode_Master = 4,
    sdrplay_api_RspDuoMode_Slave = 8,
};

enum sdrplay_api_Bw_MHzT : int {
    sdrplay_api_BW_Undefined = 0,
    sdrplay_api_BW_5_000 = 5000,
    sdrplay_api_BW_6_000 = 6000,
    sdrplay_api_BW_7_000 = 7000,
    sdrplay_api_BW_8_000 = 8000,
};

enum sdrplay_api_If_kHzT : int {
    sdrplay_api_IF_Undefined = -1,
    sdrplay_api_IF_Zero = 0,
};

enum sdrplay_api_LoModeT : int {};
enum sdrplay_api_MinGainReductionT : int {};
enum sdrplay_api_AdsbModeT : int {};

enum sdrplay_api_AgcControlT : int {
    sdrplay_api_AGC_DISABLE = 0,
};

// Bit flags of sdrplay_api_Update: what changed in the parameter block.
enum sdrplay_api_ReasonForUpdateT : int {
    sdrplay_api_Update_None = 0x00000000,
    sdrplay_api_Update_Dev_Fs = 0x00000001,
    sdrplay_api_Update_Tuner_Gr = 0x00008000,
    sdrplay_api_Update_Tuner_Frf = 0x00020000,
    sdrplay_api_Update_Tuner_BwType = 0x00040000,
};

enum sdrplay_api_ReasonForUpdateExtension1T : int {
    sdrplay_api_Update_Ext1_None = 0x00000000,
};

enum sdrplay_api_EventT : int {};

constexpr int SDRPLAY_MAX_SER_NO_LEN = 64;

// One device as the API lists it; the device keeps a copy to select it by.
struct sdrplay_api_DeviceT {
    char SerNo[SDRPLAY_MAX_SER_NO_LEN];
    unsigned char hwVer;
    sdrplay_api_TunerSelectT tuner;
    sdrplay_api_RspDuoModeT rspDuoMode;
    unsigned char valid;
    double rspDuoSampleFreq;
    sdrplay_api_Handle dev;
};

struct sdrplay_api_FsFreqT {
    double fsHz;
    unsigned char syncUpdate;
    unsigned char reCal;
};

// Leading members only.
struct sdrplay_api_DevParamsT {
    double ppm;
    sdrplay_api_FsFreqT fsFreq;
};

struct sdrplay_api_GainValuesT {
    float curr;
    float max;
    float min;
};

struct sdrplay_api_GainT {
    int gRdB;
    unsigned char LNAstate;
    unsigned char syncUpdate;
    sdrplay_api_MinGainReductionT minGr;
    sdrplay_api_GainValuesT gainVals;
};

struct sdrplay_api_RfFreqT {
    double rfHz;
    unsigned char syncUpdate;
};

struct sdrplay_api_DcOffsetTunerT {
    unsigned char dcCal;
    unsigned char speedUp;
    int trackTime;
    int refreshRateTime;
};

struct sdrplay_api_TunerParamsT {
    sdrplay_api_Bw_MHzT bwType;
    sdrplay_api_If_kHzT ifType;
    sdrplay_api_LoModeT loMode;
    sdrplay_api_GainT gain;
    sdrplay_api_RfFreqT rfFreq;
    sdrplay_api_DcOffsetTunerT dcOffsetTuner;
};

struct sdrplay_api_DcOffsetT {
    unsigned char DCenable;
    unsigned char IQenable;
};

struct sdrplay_api_DecimationT {
    unsigned char enable;
    unsigned char decimationFactor;
    unsigned char wideBandSignal;
};

struct sdrplay_api_AgcT {
    sdrplay_api_AgcControlT enable;
    int setPoint_dBfs;
    unsigned short attack_ms;
    unsigned short decay_ms;
    unsigned short decay_delay_ms;
    unsigned short decay_threshold_dB;
    int syncUpdate;
};

struct sdrplay_api_ControlParamsT {
    sdrplay_api_DcOffsetT dcOffset;
    sdrplay_api_DecimationT decimation;
    sdrplay_api_AgcT agc;
    sdrplay_api_AdsbModeT adsbMode;
};

// Leading members only (the per-model tuner blocks follow).
struct sdrplay_api_RxChannelParamsT {
    sdrplay_api_TunerParamsT tunerParams;
    sdrplay_api_ControlParamsT ctrlParams;
};

struct sdrplay_api_DeviceParamsT {
    sdrplay_api_DevParamsT* devParams;
    sdrplay_api_RxChannelParamsT* rxChannelA;
    sdrplay_api_RxChannelParamsT* rxChannelB;
};

struct sdrplay_api_StreamCbParamsT {
    unsigned int firstSampleNum;
    int grChanged;
    int rfChanged;
    int fsChanged;
    unsigned int numSamples;
};

union sdrplay_api_EventParamsT;   // not read

using sdrplay_api_StreamCallback_t = void (*)(short* xi, short* xq, sdrplay_api_StreamCbParamsT* params,
                                              unsigned int numSamples, unsigned int reset, void* cbContext);
using sdrplay_api_EventCallback_t = void (*)(sdrplay_api_EventT eventId, sdrplay_api_TunerSelectT tuner,
                                             sdrplay_api_EventParamsT* params, void* cbContext);

struct sdrplay_api_CallbackFnsT {
    sdrplay_api_StreamCallback_t StreamACbFn;
    sdrplay_api_StreamCallback_t StreamBCbFn;
    sdrplay_api_EventCallback_t EventCbFn;
};

// The published layout, as seen from this side.
static_assert(sizeof(sdrplay_api_DeviceT) == 96, "device record layout");
static_assert(sizeof(sdrplay_api_TunerParamsT) == 72, "tuner parameter layout");
static_assert(sizeof(sdrplay_api_ControlParamsT) == 32, "control parameter layout");
