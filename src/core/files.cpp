#include "core/files.h"

#include <array>

#include "core/text.h"
#include "platform/paths.h"

namespace vid {

std::string input_error_text(platform::OpenError error, std::string_view path) {
    switch (error) {
        case platform::OpenError::folder: return format("%s is a folder", {path});
        case platform::OpenError::not_regular: return format("%s is not a regular file", {path});
        default: return format("%s not found", {path});
    }
}

std::optional<platform::File> open_input(Ui& ui, const std::string& path) {
    platform::OpenError why = platform::OpenError::none;
    auto file = platform::File::open(path, platform::OpenMode::read_existing, &why);
    if (!file) ui.alert(input_error_text(why, path));
    return file;
}

std::string output_error_text(platform::OutputError error, std::string_view path) {
    switch (error) {
        case platform::OutputError::folder: return format("%s is a folder", {path});
        case platform::OutputError::not_regular: return format("%s is not a regular file", {path});
        default: return format("Can't create %s", {path});
    }
}

std::optional<platform::Output> create_output(Ui& ui, const std::string& path, platform::Existing existing) {
    platform::OutputError why = platform::OutputError::none;
    auto out = platform::Output::create(path, existing, &why);
    if (!out) ui.alert(output_error_text(why, path));
    return out;
}

std::optional<std::string> find_any_case(const std::string& folder, std::string_view name) {
    auto found = platform::find_name_any_case(folder, name);
    if (!found) return std::nullopt;
    return folder + *found;
}

bool keep_original(Ui& ui, platform::Output& replacing) {
    const std::string& original = replacing.final_path();
    const std::string kept = original + ".orig";
    if (!platform::fits(kept)) {
        ui.alert(platform::too_long_message(kept));
        return false;
    }
    platform::OutputError why = platform::OutputError::none;
    auto out = platform::Output::create(kept, platform::Existing::keep, &why);
    if (!out) {
        // The first original stays: an existing .orig is never replaced.
        if (why == platform::OutputError::cant_create && (platform::id_of(kept) || platform::is_link(kept)))
            return true;
        ui.alert(output_error_text(why, kept));
        return false;
    }
    // The output holds the old file; read it through that hold.
    std::optional<platform::File> opened;
    platform::File* in = replacing.old_file();
    if (in == nullptr) {
        opened = open_input(ui, original);
        if (!opened) return false;
        in = &*opened;
    }
    if (!in->seek(0)) {
        ui.alert(format("Can't read %s", {original}));
        return false;
    }
    std::array<std::uint8_t, 64 * 1024> buf;
    for (;;) {
        const std::size_t n = in->read(buf);
        if (n == 0) break;
        if (!out->file().write(std::span(buf).first(n))) {
            ui.alert(format("Can't write %s", {kept}));
            return false;
        }
    }
    const auto size = in->size();
    const auto copied = out->file().tell();
    if (!size || !copied || *size != *copied) {
        ui.alert(format("Can't read %s", {original}));
        return false;
    }
    if (!out->commit()) {
        ui.alert(format("Can't create %s", {kept}));
        return false;
    }
    return true;
}

}  // namespace vid
