// The sample scripts: a short scene, one instruction of every opcode, the
// voice marker's cases and opcodes outside the table.
#include "kit/samples.h"
#include "kit/script_maker.h"

namespace vid::kit {

namespace {

Bytes scene() {
    ScriptBuilder b;
    b.op(0x0703).str("room01.bm2");                       // Load Bitmap 640x480
    b.op(0x070A).u16(0x0002);                             // Draw black->bitmap with Transition
    b.op(0x0600).str("theme01.wv5").u16(0x0001);          // Play Music
    b.op(0x0004).u16(0x0018);                             // Define font size
    b.init_text(0x0001, "mina01", "Good morning.");
    b.op(0x0603).u32(1500);                               // Pause x milliseconds
    b.init_text(0x0002, "taro01", "Did you sleep well?");
    b.init_text(0x0003, "", "The window is open.");
    b.op(0x0001).u16(0x0003).str("The window is open, and it is cold.");  // Update Text
    b.op(0x0605).str("door.wv5");                         // Play FX
    b.op(0x0502).u16(0x0007);                             // Init map
    b.op(0x0205).str("scene02.ab");                       // Load a script
    return b.bytes();
}

Bytes voices() {
    ScriptBuilder b;
    b.init_text(0x0010, "voice01", "Hello");              // marker, name and text
    b.init_text(0x0011, "", "Hello");                     // no marker
    b.op(0x0000).u16(0x0012).raw("\\V.").str("Hello");     // empty voice name
    b.init_text(0x0013, "voice02", "");                   // voice without text
    b.op(0x0000).u16(0x0014).raw("\\V").str("voice03");   // marker without its full stop
    return b.bytes();
}

Bytes unknown_opcodes() {
    ScriptBuilder b;
    b.op(0x0601);                                         // Nothing
    b.op(0x0102);                                         // between two opcodes of the table
    b.op(0x0602);                                         // Reset Music
    b.op(0x1234).op(0xFFFF);
    b.op(0x0603).u32(250);
    return b.bytes();
}

}  // namespace

std::vector<Member> sample_scripts() {
    Rng rng(0x5C1E7E);
    return {
        {"scene01.ab", scene()},
        {"opcodes.ab", every_opcode_script(rng)},
        {"voices.ab", voices()},
        {"unknown.ab", unknown_opcodes()},
    };
}

}  // namespace vid::kit
