// What editors take and give: Decode BM2 to PNG (the alpha kept), and
// Encode WV5 of a WAV file as a sound editor saves it (44.1 kHz, stereo,
// 32-bit float) over a 22,050 Hz mono original.
#include <string>
#include <vector>

#include "scenarios.h"
#include "winauto.h"

namespace gui {
namespace {


std::uint32_t u32_at(const std::string& s, std::size_t at) {
    std::uint32_t v = 0;
    for (std::size_t i = 0; i < 4 && at + i < s.size(); ++i) v |= std::uint32_t(std::uint8_t(s[at + i])) << (8 * i);
    return v;
}

void convert(const Env& env) {
    const std::string dir = env.work + "\\gui\\convert", ref = env.work + "\\ref\\convert";
    const auto images = names_with(dir, ".bm2");
    GUI_CHECK(images.size() >= 2, "the sample images are there");
    if (images.size() < 2) return;
    App app(env.exe, dir);
    HWND w = app.main();
    if (!w) return;

    menu_command(w, 'D', kDecodeBm2Png);
    choose_file("Select BM2 files to decode", quoted(images));
    const auto alerts = drain_message_boxes("Alert");
    GUI_CHECK(alerts.empty(), "Decode BM2 to PNG: no Alert, the 8-bit alpha image included");
    GUI_CHECK(status_shows(w, "Decoding OK", 10000), "Decode BM2 to PNG: 'Decoding OK'");
    bool same = true;
    for (const auto& f : images) {
        const std::string png = f.substr(0, f.size() - 3) + "png";
        same = same && same_file(dir + "\\" + png, ref + "\\" + png);
    }
    GUI_CHECK(same, "every PNG file equals decode-bm2 --png's");
    save_bmp(w, env.shots + "\\decode-bm2-png.bmp");

    menu_command(w, 'E', 3);  // Encode FL3, Encode AB, Encode BM2, Encode WV5
    choose_file("Select WAV files to encode", "voice.wav");
    GUI_CHECK(drain_message_boxes("Alert").empty(), "Encode WV5 of a float stereo WAV: no Alert");
    GUI_CHECK(status_shows(w, "Encoding OK", 10000), "Encode WV5 of a float stereo WAV: 'Encoding OK'");
    std::string wv5;
    read_all(dir + "\\voice.wv5", wv5);
    // Half a second: 11025 frames of one channel at 22050 Hz, after the original's leading bytes.
    GUI_CHECK(wv5.size() > 18 && wv5.compare(0, 4, "KEEP") == 0 && (u32_at(wv5, 4) & 0xFFFF) == 1 &&
                  u32_at(wv5, 6) == 22050 && u32_at(wv5, 10) == 11025,
              "the sound is written in the original's format: mono, 22050 Hz, 11025 frames");
    GUI_CHECK(file_exists(dir + "\\voice.wv5.orig"), "the original is kept as .orig");
    save_bmp(w, env.shots + "\\encode-wv5-convert.bmp");
}

Register convert_scenario("convert", convert);

}  // namespace
}  // namespace gui
