// Any bytes as a parsed kit instrument and its samples: layers with hostile
// ranges, gains, offsets and ends over tiny samples made in memory at any
// rate, prepared as every kit import prepares them. What comes out must be a
// bank the device takes, or a reason why not.

#include <QSet>

#include <cstring>

#include "fuzzsupport.h"
#include "kitimport.h"
#include "layerrules.h"

namespace {

// Takes fixed-size values from the front of the input; zeros once it is used up.
class Reader
{
public:
    Reader(const uint8_t *data, size_t size) : data_(data), size_(size) {}

    template <typename T> T Take()
    {
        T value{};
        const size_t count = std::min(sizeof value, size_ - std::min(used_, size_));
        std::memcpy(&value, data_ + used_, count);
        used_ += sizeof value;
        return value;
    }

    bool AtEnd() const { return used_ >= size_; }

private:
    const uint8_t *data_;
    size_t size_;
    size_t used_ = 0;
};

constexpr int kSamples = 4; // the last one cannot be decoded

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    qInstallMessageHandler(DropMessages);
    Reader in(data, size);
    // The samples: a few frames of one or two channels at any rate.
    QVector<DecodedSample> samples(kSamples);
    for (DecodedSample &sample : samples) {
        sample.sourceRate = in.Take<int32_t>();
        sample.sound.channels = 1 + (in.Take<uint8_t>() & 1);
        sample.sound.rate = kBankRate;
        const int frames = in.Take<uint8_t>() * 4;
        for (int i = 0; i < frames * sample.sound.channels; ++i) {
            const auto value = in.Take<int16_t>();
            sample.sound.pcm.append(char(value & 0xff)).append(char((value >> 8) & 0xff));
        }
    }
    InstrumentSource source;
    const int layers = in.Take<uint8_t>() % 12;
    for (int l = 0; l < layers; ++l) {
        LayerSource layer;
        layer.min = in.Take<double>();
        layer.max = in.Take<double>();
        layer.pitch = in.Take<int8_t>();
        const int parts = in.Take<uint8_t>() % 4;
        for (int p = 0; p < parts; ++p) {
            LayerPart part;
            part.sample = QString::number(in.Take<uint8_t>() % kSamples);
            part.gain = in.Take<double>();
            part.offset = in.Take<int64_t>();
            part.end = in.Take<int64_t>();
            layer.parts << part;
        }
        source.layers << layer;
    }
    const SampleDecoder decode = [&samples](const QString &sample, qint64, DecodedSample *decoded,
                                            QString *reason) {
        const int index = sample.toInt();
        if (index == kSamples - 1) {
            *reason = QStringLiteral("Format not recognised.");
            return false;
        }
        *decoded = samples.at(index);
        return true;
    };

    const QString work = ScratchFolder() + QStringLiteral("/work");
    QDir(work).removeRecursively();
    if (!QDir().mkpath(work))
        std::abort();
    KitImportOptions options;
    options.leftOnly = in.Take<uint8_t>() & 1;
    options.trimTails = in.Take<uint8_t>() & 1;
    const PreparedInstrument prepared
        = PrepareInstrument(source, work, QStringLiteral("Kit - Drum.zks"), options, decode, nullptr);
    FUZZ_CHECK(!prepared.cancelled);
    const int count = int(prepared.layers.size());
    if (!prepared.failure.isEmpty()) {
        FUZZ_CHECK(count == 0);
        return 0;
    }
    FUZZ_CHECK(count >= 1 && count <= kMaxLayers && prepared.thresholds.size() == count);
    FUZZ_CHECK(prepared.samples.size() == count);
    ThresholdTable table = {};
    prepared.FillThresholds(table);
    FUZZ_CHECK(ThresholdsAreValid(table, count));
    QSet<QString> names;
    qint64 total = 0;
    for (const LayerFile &layer : prepared.layers) {
        // Every layer passes the sound check, under a name the bank holds.
        FUZZ_CHECK(layer.size > 0);
        FUZZ_CHECK(layer.name.size() <= kMaxNameLength && layer.name.endsWith(QLatin1String(".wav")));
        FUZZ_CHECK(!names.contains(layer.name.toCaseFolded()));
        names.insert(layer.name.toCaseFolded());
        total += layer.size;
    }
    FUZZ_CHECK(total <= kBankBudget);
    return 0;
}
