// PNG files, read and written with the stb image libraries (stb_impl.cpp
// holds their code).
#include <climits>
#include <cstring>
#include <memory>

#include "bm2/image.h"
#include "bm2/stb.h"

namespace vid::bm2 {

std::optional<Picture> read_png(ByteView file, std::string& why) {
    if (file.size() > INT_MAX) {
        why = "it is too large";
        return std::nullopt;
    }
    const auto size = static_cast<int>(file.size());
    int width = 0, height = 0, channels = 0;
    if (!stbi_info_from_memory(file.data(), size, &width, &height, &channels)) {
        why = std::string("it is not a readable PNG image (") + stbi_failure_reason() + ")";
        return std::nullopt;
    }
    if (width <= 0 || height <= 0 ||
        static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(height) > kMaxPixels) {
        why = "it has " + std::to_string(width) + "x" + std::to_string(height) + " pixels, more than " +
              std::to_string(kMaxPixels) + " in all";
        return std::nullopt;
    }
    std::unique_ptr<stbi_uc, void (*)(void*)> pixels(
        stbi_load_from_memory(file.data(), size, &width, &height, &channels, 4), stbi_image_free);
    if (!pixels) {
        why = std::string("it is not a readable PNG image (") + stbi_failure_reason() + ")";
        return std::nullopt;
    }
    Picture p;
    p.width = static_cast<std::uint32_t>(width);
    p.height = static_cast<std::uint32_t>(height);
    p.has_alpha = channels == 2 || channels == 4;  // grey or colour with alpha, or a palette with transparency
    p.rgba.assign(pixels.get(), pixels.get() + std::size_t{p.width} * p.height * 4);
    return p;
}

Bytes write_png(const Picture& picture) {
    if (picture.width == 0 || picture.height == 0 || picture.width > INT_MAX / 4 || picture.height > INT_MAX ||
        picture.rgba.size() != std::size_t{picture.width} * picture.height * 4)
        return {};
    const int channels = picture.has_alpha ? 4 : 3;
    Bytes pixels;
    if (!picture.has_alpha) {
        pixels.reserve(std::size_t{picture.width} * picture.height * 3);
        for (std::size_t k = 0; k < picture.rgba.size(); k += 4)
            pixels.insert(pixels.end(), picture.rgba.begin() + static_cast<std::ptrdiff_t>(k),
                          picture.rgba.begin() + static_cast<std::ptrdiff_t>(k + 3));
    }
    const std::uint8_t* data = picture.has_alpha ? picture.rgba.data() : pixels.data();
    Bytes out;
    const auto append = [](void* context, void* bytes, int n) {
        auto* o = static_cast<Bytes*>(context);
        const auto* b = static_cast<const std::uint8_t*>(bytes);
        o->insert(o->end(), b, b + n);
    };
    const int width = static_cast<int>(picture.width);
    if (!stbi_write_png_to_func(append, &out, width, static_cast<int>(picture.height), channels, data,
                                width * channels))
        return {};
    return out;
}

}  // namespace vid::bm2
