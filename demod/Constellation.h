// Signal constellations as rings of labelled points, with a 256 × 256
// decision table over the unit square.
#pragma once

#include <complex>
#include <cstdint>
#include <vector>

struct ConstellationPoint {
    float phase;   // radians
    float angle;   // atan2(sin phase, cos phase), set by build()
    uint8_t label; // the bits the point carries
};

struct ConstellationRing {
    std::vector<ConstellationPoint> points;   // at most 16
    float radius;                             // relative to the outer ring
};

class ConstellationObject {
public:
    virtual ~ConstellationObject() = default;

    // Code (ring × 16 + point) of the point nearest to (I, Q): the ring of
    // closest radius, then the point of closest angle (no wrap at ±π); ties
    // keep the earlier one.
    virtual uint8_t nearestPoint(float i, float q) const;
    // Angles, ideal points, mean radius and decision table; once, after the
    // rings are filled.
    virtual void build();
    virtual int bitsPerSymbol() const { return 0; }
    int pointCount() const;
    std::vector<std::complex<float>> points() const { return idealPoints; }
    std::vector<ConstellationRing> rings() const { return ringList; }
    // The table's decision for (I, Q), clamped to the table's edge.
    std::complex<float> decidePoint(float i, float q) const;
    uint8_t decideBits(float i, float q) const;
    float meanRadius() const { return mean; }

protected:
    void addRing(float radius, std::initializer_list<std::pair<float, uint8_t>> points);

private:
    uint8_t tableCode(float i, float q) const;

    uint8_t decisionTable[256][256] = {};   // [Q cell][I cell]
    std::vector<ConstellationRing> ringList;
    std::vector<std::complex<float>> idealPoints;
    float mean = 0;
};

class ConstBPSK : public ConstellationObject {
public:
    ConstBPSK();
    int bitsPerSymbol() const override { return 1; }
};
class ConstQPSK : public ConstellationObject {
public:
    ConstQPSK();
    int bitsPerSymbol() const override { return 2; }
};
class Const8PSK : public ConstellationObject {
public:
    Const8PSK();
    int bitsPerSymbol() const override { return 3; }
};
class Const16APSK : public ConstellationObject {
public:
    Const16APSK();
    int bitsPerSymbol() const override { return 4; }
};
class Const32APSK : public ConstellationObject {
public:
    Const32APSK();
    int bitsPerSymbol() const override { return 5; }
};
class Const16QAM : public ConstellationObject {
public:
    Const16QAM();
    int bitsPerSymbol() const override { return 4; }
};

// The process-wide instances, built on first use (before any demodulator
// block runs) and never changed: compare them by address.
const ConstellationObject& constBPSK();
const ConstellationObject& constQPSK();
const ConstellationObject& const8PSK();
const ConstellationObject& const16APSK();
const ConstellationObject& const32APSK();
const ConstellationObject& const16QAM();
// By DVB-S2 constellation index: 1 BPSK … 5 32APSK; null for 0 and others.
const ConstellationObject* constellationByIndex(int index);
