// vidodide: the command line over the program's converters.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "cli/console_ui.h"
#include "core/boundary.h"
#include "core/text.h"
#include "formats/kinds.h"

#ifndef VIDODIDE_VERSION
#define VIDODIDE_VERSION "0.0.0"
#endif

namespace vid::cli {

namespace {

constexpr const char* kHelp =
    "Usage: vidodide COMMAND ARGUMENTS...\n"
    "\n"
    "Converts the game's files. Every output is written beside its input, under\n"
    "the same name as the Windows program gives it.\n"
    "\n"
    "Commands:\n"
    "  extract-fl3 ARCHIVE...      unpack each ARCHIVE into its member folder (x.fl3 -> x_fl3/)\n"
    "  extract-fl3 [--decode] ARCHIVE MEMBER...   (or --member MEMBER)\n"
    "                              only the members named (* and ? allowed, case ignored;\n"
    "                              quote them) into x_fl3/, without _index.bin; --decode:\n"
    "                              images, sounds and scripts as PNG, WAV and listings\n"
    "                              with the index file _index.bin\n"
    "  list-fl3 [--json] ARCHIVE...  each member's name, size and offset, and the totals\n"
    "  encode-fl3 INDEX ARCHIVE    pack the folder of INDEX (a _index.bin) into ARCHIVE\n"
    "  decode-bm2 [--png] FILE...  BM2 images to bitmap files (x.bm2 -> x.bmP); --png\n"
    "                              writes PNG files with the full alpha (x.bm2 -> x.png)\n"
    "  encode-bm2 IMAGE...         bitmap or PNG images to BM2 images (x.png -> x.bm2);\n"
    "                              an existing x.bm2 (any case) is the template, kept\n"
    "                              once as x.bm2.orig and replaced\n"
    "  decode-wv5 FILE...          WV5 sounds to WAV files (x.wv5 -> x.wAV)\n"
    "  encode-wv5 WAV...           WAV files (PCM or float, 1 to 8 channels) to WV5 sounds\n"
    "                              (x.wav -> x.wv5); an existing x.wv5 (any case) gives\n"
    "                              the format the sound is converted to, and is kept\n"
    "                              once as x.wv5.orig\n"
    "  decode-ab [--tree] FILE...  AB scripts to listings (x.ab -> x.txt); --tree also\n"
    "                              prints the listing view, indented by level\n"
    "  encode-ab LISTING...        listings back to AB scripts (x.txt -> x.ab), never\n"
    "                              replacing an existing AB file\n"
    "                              Listings are in the game's code page (932); with\n"
    "                              --utf8 decode-ab writes their texts in UTF-8 and\n"
    "                              encode-ab reads them so\n"
    "  export-text [--codepage N] FOLDER TABLE\n"
    "                              every text of every AB script under FOLDER into one\n"
    "                              table with the columns script, n, op, idx, voice,\n"
    "                              original and translation, in the format of TABLE's\n"
    "                              name: .xlsx or .ods (a spreadsheet whose cells are all\n"
    "                              text), .csv (UTF-8; a text that would run as a\n"
    "                              formula gets an apostrophe in front) or .tsv\n"
    "  import-text [--codepage N] [--max-line N] FOLDER TABLE\n"
    "                              each non-empty translation of TABLE (.xlsx, .ods,\n"
    "                              .csv or .tsv) into its script (kept once as\n"
    "                              x.ab.orig); jumps (0x0201) move with texts that\n"
    "                              change length. N: the texts' code page, 932 unless\n"
    "                              given (1252, 65001 for UTF-8, ...); --max-line N\n"
    "                              refuses a translation wider than N columns (a\n"
    "                              full-width character counts 2), as does a number in\n"
    "                              a column \"max_line\" for its row\n"
    "  find-text [--codepage N] GAME_OR_FOLDER TEXT\n"
    "                              every text of every AB script under the folder, loose\n"
    "                              or inside its FL3 archives (or of one archive or\n"
    "                              script), that holds TEXT, one per line as\n"
    "                              \"ARCHIVE:SCRIPT:N: TEXT\" (N: the instruction), in UTF-8\n"
    "\n"
    "Mod projects:\n"
    "  unpack [--bmp] GAME_FOLDER WORK_FOLDER\n"
    "                              every archive and loose file of the game into member\n"
    "                              folders, every image, sound and script into WORK_FOLDER/edit/\n"
    "                              (PNG, or bitmaps with --bmp; WAV; listings), with a manifest\n"
    "  status WORK_FOLDER          what changed since unpack (exit 1 when anything did)\n"
    "  repack [--utf8] [--delta] [--game FOLDER] WORK_FOLDER OUT_FOLDER\n"
    "                              the archives and loose files that hold a change, into\n"
    "                              OUT_FOLDER under their paths in the game folder, checked;\n"
    "                              --utf8: edited listings are in UTF-8 (converted to 932);\n"
    "                              --game: the game folder, when it is not where unpack saw it;\n"
    "                              --delta: each archive as a VCDIFF delta (ARCHIVE.vcdiff)\n"
    "  apply-patch [--undo] PATCH_FOLDER GAME_FOLDER\n"
    "                              the files of a patch that repack wrote into the game, each\n"
    "                              checked first to be the version the patch was made for\n"
    "                              (else nothing changes), its original kept as FILE.orig;\n"
    "                              --undo: the originals moved back from the .orig files\n"
    "\n"
    "unpack, repack and the decode-/encode- commands take -j N: N workers (default: one\n"
    "per core); the outputs and the texts are the same, in the same order, for any N.\n"
    "\n"
    "Options:\n"
    "  --help       show this text\n"
    "  --version    show the version\n"
    "\n"
    "Status texts go to standard output, one per line; message boxes to standard\n"
    "error as \"Alert: TEXT\". Exit status: 0 when every file succeeded, 1 when any\n"
    "failed, 2 for a usage error.\n";

struct Command {
    const char* name;
    int (*run)(ConsoleUi&, Args);
    bool whole_game;  // a command of mod projects and tables, with plain texts of its own
};

constexpr Command kCommands[] = {
    {"extract-fl3", extract_fl3, false}, {"encode-fl3", encode_fl3, false}, {"export-text", export_text, true},
    {"import-text", import_text, true},  {"find-text", find_text, true},    {"list-fl3", list_fl3, true},
    {"unpack", unpack, true},            {"status", status, true},          {"repack", repack, true},
    {"apply-patch", apply_patch, true},
};

}  // namespace

int usage_error(const std::string& message) {
    // The message may quote an argument: its control characters go out escaped.
    std::fputs("vidodide: ", stderr);
    write_escaped(stderr, message);
    std::fputs("\nTry 'vidodide --help' for more information.\n", stderr);
    return 2;
}

int not_built(const char* command) {
    std::fprintf(stderr, "vidodide: %s is not built yet in this version\n", command);
    return 2;
}

int run(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty()) return usage_error("no command given");
    const std::string& first = args[0];
    if (first == "--help" || first == "-h") {
        std::fputs(kHelp, stdout);
        return 0;
    }
    if (first == "--version") {
        std::printf("vidodide %s\n", VIDODIDE_VERSION);
        return 0;
    }
    const Args rest = Args(args).subspan(1);
    for (const Command& c : kCommands) {
        if (first == c.name) {
            ConsoleUi ui(stdout, stderr);
            return guarded(ui, [&] { return c.run(ui, rest); }, 1, c.whole_game ? kOutOfMemory : kNoMemory);
        }
    }
    // The per-file converters of every kind: decode-KIND and encode-KIND.
    for (const formats::KindRow& kind : formats::kinds()) {
        const bool decode = first == kind.decode_command;
        if (!decode && first != kind.encode_command) continue;
        ConsoleUi ui(stdout, stderr);
        return guarded(ui, [&] { return decode ? decode_kind(ui, rest, kind) : encode_kind(ui, rest, kind); }, 1);
    }
    return usage_error(format("unknown command '%s'", {first}));
}

}  // namespace vid::cli

#ifdef _WIN32
// The command interpreter of Windows passes wildcards on as typed: the
// runtime expands them (`*.bm2`, `a?.wv5`) before main, as Windows console
// tools do. A pattern that matches nothing stays as it is.
int _dowildcard = -1;
#endif

int main(int argc, char** argv) {
    try {
        return vid::cli::run(argc, argv);
    } catch (...) {
        // Only what the console itself could not do: nothing is left to tell it with.
        std::fputs("Alert: not enought memory\n", stderr);
        return 1;
    }
}
