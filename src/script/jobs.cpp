#include "script/jobs.h"

#include <new>

#include "core/messages.h"
#include "core/bytes.h"
#include "core/files.h"
#include "fl3/member_check.h"
#include "core/text.h"
#include "platform/file.h"
#include "platform/paths.h"
#include "script/codec.h"
#include "script/decoder.h"
#include "script/encoder.h"
#include "script/listing.h"
#include "script/listing_codepage.h"

namespace vid::script {

namespace {

using platform::File;
using platform::OpenMode;


// The output name made from `path`, or nothing after an Alert when either
// path is over the limit or too short to make it from.
std::optional<std::string> output_name(Ui& ui, const std::string& path, std::optional<std::string> name) {
    if (!platform::fits(path)) {
        ui.alert(too_long_message(path));
        return std::nullopt;
    }
    if (!name) {
        ui.alert(no_output_name_message(path));
        return std::nullopt;
    }
    if (!platform::fits(*name)) {
        ui.alert(too_long_message(*name));
        return std::nullopt;
    }
    return name;
}

}  // namespace

std::string decode_progress_text(std::string_view script_path) { return format("Scripting %s", {script_path}); }

std::string decode_result_text(std::string_view script_path, bool ok) {
    return ok ? std::string("Scripting OK") : format("Scripting %s failed", {script_path});
}

std::string encode_progress_text(std::string_view listing_path) {
    return format("EnScripting %s", {listing_path});
}

std::string encode_result_text(std::string_view listing_path, bool ok) {
    return ok ? std::string("EnScripting OK") : format("EnScripting %s failed", {listing_path});
}

std::optional<std::string> listing_name(std::string_view script_path) {
    return platform::replace_tail(script_path, 2, "txt");
}

std::optional<std::string> script_name(std::string_view listing_path) {
    return platform::replace_tail(listing_path, 3, "ab");
}

bool decode_job(Ui& ui, const std::string& script_path, bool utf8) {
    const auto listing_path = output_name(ui, script_path, listing_name(script_path));
    if (!listing_path) return false;
    auto script = open_input(ui, script_path);
    if (!script) return false;
    const auto script_size = script->size();
    if (!script_size) {
        ui.alert(format("can't read %s", {script_path}));
        return false;
    }

    if (!output_allowed(ui, script_path, *listing_path, MadeBy::decoder)) return false;
    platform::OutputError why = platform::OutputError::none;
    auto listing = platform::Output::create(*listing_path, platform::Existing::replace, &why);
    if (!listing) {
        ui.alert(why == platform::OutputError::cant_create ? format("can't write %s", {*listing_path})
                                                           : output_error_text(why, *listing_path));
        return false;
    }
    // The script streams through the decoder's buffer and the listing
    // through its own; an older listing stays as it was until the new one
    // is complete.
    ScriptNotes notes;
    bool written;
    FileSource source(*script);
    try {
        ListingBuffer lines(&listing->file());
        ItemWriter writer(ui, &lines);
        if (utf8) {
            platform::Codepage codepage(kGameCodepage);
            Utf8Items converted(writer, codepage);
            notes = decode_script(source, converted);
            if (converted.first_unconverted() != 0)
                ui.alert(format("%s: the texts from instruction %s on are not all valid in code page %s; those "
                                "that are not stand in the listing as they are",
                                {script_path, std::to_string(converted.first_unconverted()),
                                 std::to_string(kGameCodepage)}));
        } else {
            notes = decode_script(source, writer);
        }
        written = lines.flush();
    } catch (const std::bad_alloc&) {
        ui.alert(kNoMemory);
        return false;
    }
    if (source.bytes_read() != *script_size) {
        ui.alert(format("can't read %s", {script_path}));
        return false;
    }
    if (!written || !listing->commit()) {
        ui.alert(format("can't write %s", {*listing_path}));
        return false;
    }
    if (notes.any()) ui.alert(notes_message(script_path, notes));
    return true;
}

bool encode_job(Ui& ui, const std::string& listing_path, bool utf8) {
    const auto ab_path = output_name(ui, listing_path, script_name(listing_path));
    if (!ab_path) return false;

    auto listing = open_input(ui, listing_path);
    if (!listing) return false;
    // An existing AB file is never replaced.
    auto out = create_output(ui, *ab_path, platform::Existing::keep);
    if (!out) return false;
    File* ab = &out->file();

    const auto listing_size = listing->size();
    FileSource source(*listing);
    ListingOutcome outcome;
    try {
        // A job that fails removes the new file again.
        outcome = encode_listing_from(ui, source, utf8, listing_path, [ab](ByteView piece) { return ab->write(piece); });
    } catch (const std::bad_alloc&) {
        ui.alert(kNoMemory);
        return false;
    }
    listing->close();

    if (const auto refused = refusal_text(outcome, listing_path)) {
        ui.alert(*refused);
        return false;
    }
    if (!listing_size || source.bytes_read() < *listing_size) {
        ui.alert(format("can't read %s", {listing_path}));
        return false;
    }
    if (!outcome.written) {
        ui.alert(format("can't write %s", {*ab_path}));
        return false;
    }
    if (!out->commit()) {
        // Written in full, but the name was taken meanwhile or the move failed.
        ui.alert(cant_create(*ab_path));
        return false;
    }
    if (!outcome.code_notes.empty()) ui.alert(outcome.code_notes);
    return true;
}

bool decode_file(Ui& ui, const std::string& script_path) {
    ui.status(decode_progress_text(script_path), Draw::now);
    const bool ok = decode_job(ui, script_path);
    ui.status(decode_result_text(script_path, ok), Draw::now);
    return ok;
}

bool encode_file(Ui& ui, const std::string& listing_path) {
    ui.status(encode_progress_text(listing_path), Draw::now);
    const bool ok = encode_job(ui, listing_path);
    ui.status(encode_result_text(listing_path, ok), Draw::now);
    return ok;
}

bool decode_job(Ui& ui, const std::string& script_path) { return decode_job(ui, script_path, false); }

bool encode_job(Ui& ui, const std::string& listing_path) { return encode_job(ui, listing_path, false); }

bool decode_file_utf8(Ui& ui, const std::string& script_path) {
    ui.status(decode_progress_text(script_path), Draw::now);
    const bool ok = decode_job(ui, script_path, true);
    ui.status(decode_result_text(script_path, ok), Draw::now);
    return ok;
}

bool encode_file_utf8(Ui& ui, const std::string& listing_path) {
    ui.status(encode_progress_text(listing_path), Draw::now);
    const bool ok = encode_job(ui, listing_path, true);
    ui.status(encode_result_text(listing_path, ok), Draw::now);
    return ok;
}

}  // namespace vid::script
