// Test signals and their analysis, for comparing converters.
//   bench-quality sine  OUT RATE HZ SECONDS BITS AMPLITUDE
//   bench-quality sweep OUT RATE FROM_HZ TO_HZ SECONDS BITS AMPLITUDE
//   bench-quality snr   FILE HZ AMPLITUDE
//   bench-quality alias FILE FROM_HZ TO_HZ SECONDS AMPLITUDE ABOVE_HZ
// sine and sweep write mono PCM of 16 or 24 bits, rounded to nearest.
// snr fits a sine of HZ (amplitude, phase and offset free) to the middle
// 80 % of the file and prints the signal-to-noise ratio of that fit and the
// sine's level against AMPLITUDE, both in dB. alias reads a converted linear
// sweep from FROM_HZ to TO_HZ and prints, in dB against the sweep's own
// level, the loudest alias it made while it ran above ABOVE_HZ: none of that
// belongs in the output.

#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

namespace {

constexpr double kPi = 3.14159265358979323846;

struct Sound {
    int rate = 0;
    std::vector<double> samples; // the first channel, full scale 1.0
};

bool Write(const char *path, int rate, int bits, int frames,
           const std::function<double(int)> &signal)
{
    SF_INFO info = {};
    info.samplerate = rate;
    info.channels = 1;
    info.format = SF_FORMAT_WAV | (bits == 24 ? SF_FORMAT_PCM_24 : SF_FORMAT_PCM_16);
    SNDFILE *file = sf_open(path, SFM_WRITE, &info);
    if (!file) {
        std::fprintf(stderr, "%s: %s\n", path, sf_strerror(nullptr));
        return false;
    }
    // Rounded at the file's own depth, then left-aligned, so that
    // libsndfile's shift down to that depth loses nothing.
    const double scale = std::ldexp(1.0, bits - 1);
    const long top = long(scale) - 1;
    std::vector<int> pcm(static_cast<size_t>(frames));
    for (int n = 0; n < frames; ++n)
        pcm[size_t(n)] = int(std::clamp(std::lrint(signal(n) * scale), -top - 1, top) * (1L << (32 - bits)));
    const bool ok = sf_writef_int(file, pcm.data(), frames) == frames;
    sf_close(file);
    return ok;
}

bool Read(const char *path, Sound *sound)
{
    SF_INFO info = {};
    SNDFILE *file = sf_open(path, SFM_READ, &info);
    if (!file) {
        std::fprintf(stderr, "%s: %s\n", path, sf_strerror(nullptr));
        return false;
    }
    std::vector<double> all(size_t(info.frames * info.channels));
    const sf_count_t got = sf_readf_double(file, all.data(), info.frames);
    sf_close(file);
    sound->rate = info.samplerate;
    sound->samples.resize(size_t(got));
    for (sf_count_t f = 0; f < got; ++f)
        sound->samples[size_t(f)] = all[size_t(f * info.channels)];
    return got > 0;
}

double Db(double ratio)
{
    return 10 * std::log10(ratio);
}

// Least squares: x[n] ~ a sin(wn) + b cos(wn) + c over [first, last).
void Snr(const Sound &s, double hz, double amplitude)
{
    const size_t first = s.samples.size() / 10;
    const size_t last = s.samples.size() - first;
    const double w = 2 * kPi * hz / s.rate;
    double m[3][4] = {};
    for (size_t n = first; n < last; ++n) {
        const double v[3] = {std::sin(w * double(n)), std::cos(w * double(n)), 1.0};
        for (int i = 0; i < 3; ++i) {
            for (int j = 0; j < 3; ++j)
                m[i][j] += v[i] * v[j];
            m[i][3] += v[i] * s.samples[n];
        }
    }
    for (int i = 0; i < 3; ++i) { // Gauss-Jordan; the matrix is well conditioned
        for (int k = 0; k < 3; ++k) {
            if (k == i)
                continue;
            const double f = m[k][i] / m[i][i];
            for (int j = 0; j < 4; ++j)
                m[k][j] -= f * m[i][j];
        }
    }
    const double a = m[0][3] / m[0][0], b = m[1][3] / m[1][1], c = m[2][3] / m[2][2];
    double signal = 0, noise = 0;
    for (size_t n = first; n < last; ++n) {
        const double fit = a * std::sin(w * double(n)) + b * std::cos(w * double(n));
        signal += fit * fit;
        const double e = s.samples[n] - fit - c;
        noise += e * e;
    }
    const double level = 2 * Db(std::hypot(a, b) / amplitude);
    std::printf("%.1f %.3f\n", Db(signal / noise), std::fabs(level) < 0.0005 ? 0.0 : level);
}

// Where a sweep tone at `hz` lands in a file of `rate` samples per second.
double Folded(double hz, double rate)
{
    const double f = std::fmod(hz, rate);
    return f > rate / 2 ? rate - f : f;
}

// Along the sweep, from the moment it passes `above`: the power within
// 400 Hz of where its tone must fold to (a Hann-windowed DFT of 2048
// samples), so that broadband noise such as dither hardly counts. Prints the
// loudest stretch in dB against the sweep's own power.
void Alias(const Sound &s, double from, double to, double seconds, double amplitude,
           double above)
{
    const size_t n = 2048;
    const double band = 400;
    std::vector<double> window(n);
    double windowEnergy = 0;
    for (size_t i = 0; i < n; ++i) {
        window[i] = 0.5 - 0.5 * std::cos(2 * kPi * double(i) / double(n));
        windowEnergy += window[i] * window[i];
    }
    const double reference = amplitude * amplitude / 2;
    const double start = (above - from) / (to - from) * seconds; // when the sweep passes `above`
    double worst = 0;
    for (size_t begin = size_t(std::ceil(start * s.rate));
         begin + n <= s.samples.size() && double(begin + n) / s.rate <= seconds; begin += n / 2) {
        const double t = (double(begin) + n / 2.0) / s.rate;
        const double alias = Folded(from + (to - from) * t / seconds, s.rate);
        const double binWidth = double(s.rate) / double(n);
        const long low = std::max(0L, std::lrint((alias - band) / binWidth));
        const long high = std::min(long(n / 2), std::lrint((alias + band) / binWidth));
        double power = 0;
        for (long k = low; k <= high; ++k) {
            double re = 0, im = 0;
            for (size_t i = 0; i < n; ++i) {
                const double x = window[i] * s.samples[begin + i];
                re += x * std::cos(2 * kPi * double(k) * double(i) / double(n));
                im -= x * std::sin(2 * kPi * double(k) * double(i) / double(n));
            }
            power += re * re + im * im;
        }
        // Parseval: the bins' energy over N times the window's energy is
        // the windowed signal's mean power, both sides of the spectrum
        // counted once each for a real tone.
        worst = std::max(worst, 2 * power / (double(n) * windowEnergy));
    }
    std::printf("%.1f\n", worst > 0 ? Db(worst / reference) : -999.0);
}

int Usage()
{
    std::fprintf(stderr,
                 "usage: bench-quality sine  OUT RATE HZ SECONDS BITS AMPLITUDE\n"
                 "       bench-quality sweep OUT RATE FROM_HZ TO_HZ SECONDS BITS AMPLITUDE\n"
                 "       bench-quality snr   FILE HZ AMPLITUDE\n"
                 "       bench-quality alias FILE FROM_HZ TO_HZ SECONDS AMPLITUDE ABOVE_HZ\n");
    return 2;
}

} // namespace

int main(int argc, char *argv[])
{
    const std::string command = argc > 1 ? argv[1] : "";
    const auto number = [&](int i) { return std::atof(argv[i]); };
    if (command == "sine" && argc == 8) {
        const int rate = std::atoi(argv[3]);
        const double hz = number(4), amplitude = number(7);
        const int frames = int(number(5) * rate);
        return Write(argv[2], rate, std::atoi(argv[6]), frames, [&](int n) {
                   return amplitude * std::sin(2 * kPi * hz * n / rate);
               }) ? 0 : 1;
    }
    if (command == "sweep" && argc == 9) {
        const int rate = std::atoi(argv[3]);
        const double from = number(4), to = number(5), seconds = number(6), amplitude = number(8);
        return Write(argv[2], rate, std::atoi(argv[7]), int(seconds * rate), [&](int n) {
                   const double t = double(n) / rate;
                   return amplitude
                       * std::sin(2 * kPi * (from * t + (to - from) * t * t / (2 * seconds)));
               }) ? 0 : 1;
    }
    Sound sound;
    if (command == "snr" && argc == 5) {
        if (!Read(argv[2], &sound))
            return 1;
        Snr(sound, number(3), number(4));
        return 0;
    }
    if (command == "alias" && argc == 8) {
        if (!Read(argv[2], &sound))
            return 1;
        Alias(sound, number(3), number(4), number(5), number(6), number(7));
        return 0;
    }
    return Usage();
}
