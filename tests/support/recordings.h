// Test recordings: tones written as sound files, and a meter of how
// strongly a tone sounds in what was heard.
#pragma once

#include <sndfile.h>

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

namespace support {

// Writes a sine tone as a sound file of the given libsndfile format.
void writeTone(const std::string& path, double frequency, double seconds, int rate = 8000,
               int format = SF_FORMAT_WAV | SF_FORMAT_PCM_16, int channels = 1);
// Writes tones one after the other, each given as {frequency, seconds}, as
// a 16-bit mono WAV file.
void writeTones(const std::string& path, const std::vector<std::pair<double, double>>& tones, int rate);
// How strongly a tone sounds in the 10 ms of 44100 Hz samples from start
// (Goertzel over a Hann window), relative to a full-scale sine.
double toneLevel(const std::vector<short>& samples, std::size_t start, double frequency);

// A stretch of 10 ms blocks of 44100 Hz samples in which one tone sounds.
struct Segment {
    double frequency;
    double start;  // seconds into the recording
    double end;
};

// The stretches of the given tones (each at a level of 0.2 or more) in what
// was heard, in order.
std::vector<Segment> segments(const std::vector<short>& heard, const std::vector<double>& tones);

// segments() of a recording that grows (the same samples, and more at each
// call): each update analyses only what was added since the last.
class SegmentsSoFar {
public:
    explicit SegmentsSoFar(std::vector<double> tones) : tones_(std::move(tones)) {}
    const std::vector<Segment>& update(const std::vector<short>& heard);

private:
    std::vector<double> tones_;
    std::vector<Segment> found_;
    std::size_t next_ = 0;  // the first sample not yet analysed
};

// The last part of one sound in two tones as heard: how long its last tone
// sounded, and whether its first tone was heard just before. When it was
// not, the recording lost the sound's start (a recorder may, on a sink that
// mixes ahead) and the last part tells nothing of its end.
struct LastPart {
    double seconds;
    bool afterFirst;
    double end;  // seconds into the recording
};

// The last parts in what was heard, in order: each stretch of milliseconds
// in which lastTone sounds louder than firstTone (10 ms windows, so a part
// measures about 3 ms longer than it is).
std::vector<LastPart> lastParts(const std::vector<short>& heard, double firstTone, double lastTone);

// lastParts() of a recording that grows, as SegmentsSoFar. The last part may
// still be growing: it has ended once the recording goes on past its end.
class LastPartsSoFar {
public:
    LastPartsSoFar(double firstTone, double lastTone) : firstTone_(firstTone), lastTone_(lastTone) {}
    const std::vector<LastPart>& update(const std::vector<short>& heard);

private:
    double firstTone_, lastTone_;
    std::vector<LastPart> parts_;
    std::size_t next_ = 0;
    std::size_t run_ = 0;
    std::size_t sinceFirst_ = 1000;  // milliseconds since the first tone last led
};

}  // namespace support
