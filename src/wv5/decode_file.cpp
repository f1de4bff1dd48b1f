// Decode WV5: one WV5 file to one WAV file beside it.
//
// The WAV headers are written first with the sizes that the WV5 header
// promises; when the runs give a different number of sample bytes (a file
// that ends early, or a frame count that does not match its runs), the
// RIFF and data sizes are rewritten afterwards, so the WAV file always
// describes exactly the samples it holds. A complete file whose frame count
// disagrees with its runs is told about, but its sound is complete.
#include <string>

#include "fl3/decode_start.h"
#include "core/messages.h"
#include "core/text.h"
#include "platform/file.h"
#include "wv5/wv5.h"

namespace vid::wv5 {

namespace {

using platform::File;

class FileSource : public Source {
public:
    explicit FileSource(File& f) : f_(f) {}
    std::size_t read(std::span<std::uint8_t> out) override { return f_.read(out); }

private:
    File& f_;
};

bool put_u32_at(File& f, std::uint64_t pos, std::uint32_t v) {
    std::uint8_t b[4];
    store_u32(b, v);
    return f.seek(pos) && f.write(b);
}

// "N frames", and the odd sample of two channels.
std::string frames_text(std::uint64_t samples, std::uint16_t channels) {
    const std::uint64_t frames = samples / channels;
    std::string text = std::to_string(frames) + (frames == 1 ? " frame" : " frames");
    if (samples % channels != 0) text += " and one sample";
    return text;
}

}  // namespace

bool decode_file(Ui& ui, const std::string& path) {
    Header header;
    // The header is read before the output is started: a file too short
    // to be a sound never touches an older WAV file.
    const auto read_header = [&](File& in) {
        std::uint8_t head[kHeaderSize];
        const auto h = parse_header(ByteView(head, in.read_full(head)));
        if (!h) {
            ui.alert(format("%s is not a WV5 sound: it ends inside its 18-byte header", {path}));
            return false;
        }
        header = *h;
        return true;
    };
    auto files = start_decoding(ui, path, 2, "AV", read_header);
    if (!files) return false;
    File& in = files->in;
    File& out = files->out.file();
    const std::string& out_name = files->out_name;
    auto cant_write = [&] {
        ui.alert(vid::cant_write(out_name));
        return false;
    };

    const std::uint32_t promised = header.promised_data_size();
    if (!out.write(wav_header(header, promised))) return cant_write();

    FileSource source(in);
    FileSink sink(out);
    const Outcome r = decode_runs(header, source, sink);
    if (r.stop == Stop::write_failed) return cant_write();
    if (r.bytes != promised) {
        // r.bytes is at most kMaxDataSize, so both sizes fit 32 bits.
        const auto data_size = static_cast<std::uint32_t>(r.bytes);
        if (!put_u32_at(out, 4, data_size + 38) || !put_u32_at(out, 42, data_size)) return cant_write();
    }
    if (!files->out.commit()) return cant_write();

    switch (r.stop) {
        case Stop::done: {
            const std::uint64_t samples = r.bytes / 2;
            if (samples != std::uint64_t{header.frames} * header.wav_channels())
                ui.alert(format("%s: its header gives a frame count of %s, its runs decode to %s; the WAV file's "
                                "sizes follow the decoded samples",
                                {path, std::to_string(header.frames), frames_text(samples, header.wav_channels())}));
            return true;
        }
        case Stop::input_ended:
            ui.alert(format("%s ends early: %s of its %s runs decoded; the WAV file holds the samples decoded so far",
                            {path, std::to_string(r.runs_done), std::to_string(header.runs)}));
            return false;
        case Stop::too_long:
            ui.alert(format("%s is too long for a WAV file: decoding stopped after %s of its %s runs",
                            {path, std::to_string(r.runs_done), std::to_string(header.runs)}));
            return false;
        case Stop::write_failed: break;
    }
    return cant_write();
}

}  // namespace vid::wv5
