// Writes a product's three stand-in bundles (Velquin.vst3, Velquin.clap,
// Velquin.aaxplugin for the demo) into a folder, for the payload packer.
//
// Usage: oh_payload_generate [--name N] [--version X.Y.Z] [--vendor V]
//                            [--module-size BYTES] <output folder>
//
// Without options it writes the demo product: Velquin 1.0.0 by Oakhaze, Inc.,
// with modules of a real release build's size.
//        oh_payload_generate [--name N ...] --vst3-of-size <bytes> <output folder>
//
// The second form writes only a Velquin.vst3 bundle of about <bytes>, for
// benchmarks: the small files, a module of at most 32 MiB, and data files of
// at most 256 MiB each with the module's compressibility, as large products
// (sample libraries) ship them.
// Everything is deterministic: fixed seeds, no clock, no environment, so the
// same build of this tool always writes the same bytes. A file whose content
// is already right is left untouched (the build tool then skips the packing),
// and files inside the bundles that the demo does not contain are removed.

#include "LittleEndian.h"

#include <zlib.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace
{
//==============================================================================
// Product facts carried inside the bundles.
std::string productName    = "Velquin";
std::string vendorName     = "Oakhaze, Inc.";
const char* const vendorUrl      = "https://www.oakhaze.com";
const char* const vendorEmail    = "support@oakhaze.com";
std::string productVersion = "1.0.0";
std::string fileVersion    = "1.0.0.0";
uint32_t versionHigh = 0x00010000;   // fixed file version 1.0 ...
uint32_t versionLow  = 0x00000000;   // ... .0.0

// Our own class identifiers for the VST3 module description.
const char* const processorCid  = "7C1E4A92D35B4F08A6E09B3F51C2D874";
const char* const controllerCid = "E3905BD1486A4C27B0F5127D9A6C3E1F";

// Module sizes: those of a real release build of the product.
uint32_t vst3ModuleSize = 33630336;
uint32_t clapModuleSize = 33291232;
uint32_t aaxModuleSize  = 33419352;

const uint32_t brandColour = 0xFF0094D8;

//==============================================================================
void putBE32 (Bytes& b, uint32_t v)
{
    for (int shift = 24; shift >= 0; shift -= 8)
        b.push_back ((uint8_t) (v >> shift));
}

void set16 (Bytes& b, size_t at, uint32_t v)
{
    b[at]     = (uint8_t) v;
    b[at + 1] = (uint8_t) (v >> 8);
}

void set32 (Bytes& b, size_t at, uint32_t v)
{
    set16 (b, at, v & 0xFFFF);
    set16 (b, at + 2, v >> 16);
}

void putText (Bytes& b, const std::string& s)
{
    b.insert (b.end(), s.begin(), s.end());
}

void padTo (Bytes& b, size_t alignment)
{
    while (b.size() % alignment != 0)
        b.push_back (0);
}

uint32_t alignUp (uint32_t v, uint32_t alignment)
{
    return (v + alignment - 1) / alignment * alignment;
}

//==============================================================================
// SplitMix64: small, fast and the same on every platform.
struct Random
{
    explicit Random (uint64_t seed) : state (seed) {}

    uint64_t next()
    {
        uint64_t z = (state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }

    uint32_t below (uint32_t n) { return (uint32_t) ((next() >> 32) * n >> 32); }
    uint8_t byte() { return (uint8_t) (next() >> 56); }

    uint64_t state;
};

//==============================================================================
// desktop.ini: tells Explorer to show Plugin.ico as the bundle folder's icon.
Bytes makeDesktopIni()
{
    Bytes b;
    putText (b, "[.ShellClassInfo]\r\nIconResource=Plugin.ico,0\r\nIconFile=Plugin.ico\r\nIconIndex=0\r\n");
    return b;
}

//==============================================================================
// The folder icon: a back panel with a tab and a front panel, drawn with
// 4 x 4 supersampling in unit coordinates so every size comes from one shape.
struct RoundedRect
{
    float x0, y0, x1, y1, r;

    bool contains (float x, float y) const
    {
        if (x < x0 || x > x1 || y < y0 || y > y1)
            return false;

        const float cx = std::clamp (x, x0 + r, x1 - r);
        const float cy = std::clamp (y, y0 + r, y1 - r);
        return (x - cx) * (x - cx) + (y - cy) * (y - cy) <= r * r;
    }
};

uint32_t shade (uint32_t argb, float factor)
{
    auto channel = [&] (int shift)
    {
        return (uint32_t) std::lround (((argb >> shift) & 0xFF) * factor) << shift;
    };

    return (argb & 0xFF000000) | channel (16) | channel (8) | channel (0);
}

// Straight-alpha ARGB pixels, row 0 at the top.
std::vector<uint32_t> drawFolder (int size)
{
    const RoundedRect tab   { 0.06f, 0.12f, 0.44f, 0.40f, 0.05f };
    const RoundedRect back  { 0.06f, 0.20f, 0.94f, 0.86f, 0.06f };
    const RoundedRect front { 0.06f, 0.32f, 0.94f, 0.86f, 0.06f };

    const uint32_t backColour = shade (brandColour, 0.75f);
    const uint32_t frontColour = brandColour;

    std::vector<uint32_t> pixels ((size_t) size * (size_t) size);
    const int samples = 4;

    for (int py = 0; py < size; ++py)
    {
        for (int px = 0; px < size; ++px)
        {
            float r = 0, g = 0, b = 0, a = 0; // premultiplied sums

            for (int sy = 0; sy < samples; ++sy)
            {
                for (int sx = 0; sx < samples; ++sx)
                {
                    const float x = ((float) px + ((float) sx + 0.5f) / samples) / (float) size;
                    const float y = ((float) py + ((float) sy + 0.5f) / samples) / (float) size;

                    uint32_t c = 0;
                    if (front.contains (x, y))
                        c = frontColour;
                    else if (back.contains (x, y) || tab.contains (x, y))
                        c = backColour;

                    if (c != 0)
                    {
                        r += (float) ((c >> 16) & 0xFF);
                        g += (float) ((c >> 8) & 0xFF);
                        b += (float) (c & 0xFF);
                        a += 1.0f;
                    }
                }
            }

            if (a > 0)
            {
                const auto alpha = (uint32_t) std::lround (a * 255.0f / (samples * samples));
                pixels[(size_t) py * (size_t) size + (size_t) px] =
                    (alpha << 24) | ((uint32_t) std::lround (r / a) << 16)
                    | ((uint32_t) std::lround (g / a) << 8) | (uint32_t) std::lround (b / a);
            }
        }
    }

    return pixels;
}

// 32-bit DIB as an icon image: header with doubled height, BGRA rows
// bottom-up, then the 1-bit AND mask (set where fully transparent).
Bytes makeIconBitmap (int size)
{
    const auto pixels = drawFolder (size);
    const uint32_t maskStride = alignUp ((uint32_t) (size + 7) / 8, 4);
    const uint32_t colourBytes = (uint32_t) (size * size * 4);

    Bytes b;
    put32 (b, 40);
    put32 (b, (uint32_t) size);
    put32 (b, (uint32_t) size * 2);
    put16 (b, 1);
    put16 (b, 32);
    put32 (b, 0);
    put32 (b, colourBytes + maskStride * (uint32_t) size);
    put32 (b, 0);
    put32 (b, 0);
    put32 (b, 0);
    put32 (b, 0);

    for (int y = size - 1; y >= 0; --y)
        for (int x = 0; x < size; ++x)
            put32 (b, pixels[(size_t) y * (size_t) size + (size_t) x]); // little-endian ARGB is BGRA

    for (int y = size - 1; y >= 0; --y)
    {
        Bytes row (maskStride, 0);
        for (int x = 0; x < size; ++x)
            if ((pixels[(size_t) y * (size_t) size + (size_t) x] >> 24) == 0)
                row[(size_t) x / 8] |= (uint8_t) (0x80 >> (x % 8));

        b.insert (b.end(), row.begin(), row.end());
    }

    return b;
}

void putPngChunk (Bytes& b, const char* type, const Bytes& data)
{
    putBE32 (b, (uint32_t) data.size());
    Bytes body (type, type + 4);
    body.insert (body.end(), data.begin(), data.end());
    b.insert (b.end(), body.begin(), body.end());
    putBE32 (b, (uint32_t) crc32 (0, body.data(), (uInt) body.size()));
}

// 8-bit RGBA PNG; each row gets the filter with the smallest sum of
// absolute residuals, the usual heuristic.
Bytes makeIconPng (int size)
{
    const auto pixels = drawFolder (size);
    const size_t stride = (size_t) size * 4;

    std::vector<Bytes> rows;
    for (int y = 0; y < size; ++y)
    {
        Bytes row;
        for (int x = 0; x < size; ++x)
        {
            const uint32_t p = pixels[(size_t) y * (size_t) size + (size_t) x];
            row.push_back ((uint8_t) (p >> 16));
            row.push_back ((uint8_t) (p >> 8));
            row.push_back ((uint8_t) p);
            row.push_back ((uint8_t) (p >> 24));
        }
        rows.push_back (row);
    }

    Bytes raw;
    const Bytes zeroRow (stride, 0);

    for (size_t y = 0; y < rows.size(); ++y)
    {
        const Bytes& cur = rows[y];
        const Bytes& up = y > 0 ? rows[y - 1] : zeroRow;

        Bytes best;
        long bestScore = -1;
        int bestFilter = 0;

        for (int filter = 0; filter < 5; ++filter)
        {
            Bytes out (stride);
            long score = 0;

            for (size_t i = 0; i < stride; ++i)
            {
                const int a = i >= 4 ? cur[i - 4] : 0;
                const int bb = up[i];
                const int c = i >= 4 ? up[i - 4] : 0;
                int predictor = 0;

                switch (filter)
                {
                    case 1: predictor = a; break;
                    case 2: predictor = bb; break;
                    case 3: predictor = (a + bb) / 2; break;
                    case 4:
                    {
                        const int p = a + bb - c;
                        const int pa = std::abs (p - a), pb = std::abs (p - bb), pc = std::abs (p - c);
                        predictor = (pa <= pb && pa <= pc) ? a : (pb <= pc ? bb : c);
                        break;
                    }
                    default: break;
                }

                out[i] = (uint8_t) (cur[i] - predictor);
                score += out[i] < 128 ? out[i] : 256 - out[i];
            }

            if (bestScore < 0 || score < bestScore)
            {
                bestScore = score;
                best = out;
                bestFilter = filter;
            }
        }

        raw.push_back ((uint8_t) bestFilter);
        raw.insert (raw.end(), best.begin(), best.end());
    }

    uLongf packedSize = compressBound ((uLong) raw.size());
    Bytes packed (packedSize);
    if (compress2 (packed.data(), &packedSize, raw.data(), (uLong) raw.size(), 9) != Z_OK)
        throw std::runtime_error ("PNG compression failed");
    packed.resize (packedSize);

    Bytes header;
    putBE32 (header, (uint32_t) size);
    putBE32 (header, (uint32_t) size);
    header.push_back (8); // bit depth
    header.push_back (6); // RGBA
    header.push_back (0);
    header.push_back (0);
    header.push_back (0);

    Bytes b = { 0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n' };
    putPngChunk (b, "IHDR", header);
    putPngChunk (b, "IDAT", packed);
    putPngChunk (b, "IEND", {});
    return b;
}

Bytes makePluginIco()
{
    const int sizes[] = { 16, 32, 48, 256 };
    std::vector<Bytes> images;
    for (int size : sizes)
        images.push_back (size < 256 ? makeIconBitmap (size) : makeIconPng (size));

    Bytes b;
    put16 (b, 0);
    put16 (b, 1); // icon
    put16 (b, (uint32_t) images.size());

    uint32_t offset = 6 + 16 * (uint32_t) images.size();
    for (size_t i = 0; i < images.size(); ++i)
    {
        b.push_back ((uint8_t) (sizes[i] & 0xFF)); // 256 is written as 0
        b.push_back ((uint8_t) (sizes[i] & 0xFF));
        b.push_back (0);
        b.push_back (0);
        put16 (b, 1);
        put16 (b, 32);
        put32 (b, (uint32_t) images[i].size());
        put32 (b, offset);
        offset += (uint32_t) images[i].size();
    }

    for (const auto& image : images)
        b.insert (b.end(), image.begin(), image.end());

    return b;
}

//==============================================================================
// moduleinfo.json in the VST3 SDK's relaxed form (trailing commas).
Bytes makeModuleInfo()
{
    auto classRecord = [] (const char* cid, const char* category)
    {
        return std::string ("    {\n")
             + "      \"CID\": \"" + cid + "\",\n"
             + "      \"Category\": \"" + category + "\",\n"
             + "      \"Name\": \"" + productName + "\",\n"
             + "      \"Vendor\": \"" + vendorName + "\",\n"
             + "      \"Version\": \"" + productVersion + "\",\n"
             + "      \"SDKVersion\": \"VST 3.7.12\",\n"
             + "      \"Sub Categories\": [\n"
             + "        \"Fx\",\n"
             + "      ],\n"
             + "      \"Class Flags\": 0,\n"
             + "      \"Cardinality\": 2147483647,\n"
             + "      \"Snapshots\": [\n"
             + "      ],\n"
             + "    },\n";
    };

    const std::string text = std::string ("{\n")
        + "  \"Name\": \"" + productName + "\",\n"
        + "  \"Version\": \"" + productVersion + "\",\n"
        + "  \"Factory Info\": {\n"
        + "    \"Vendor\": \"" + vendorName + "\",\n"
        + "    \"URL\": \"" + vendorUrl + "\",\n"
        + "    \"E-Mail\": \"" + vendorEmail + "\",\n"
        + "    \"Flags\": {\n"
        + "      \"Unicode\": true,\n"
        + "      \"Classes Discardable\": false,\n"
        + "      \"Component Non Discardable\": false,\n"
        + "    },\n"
        + "  },\n"
        + "  \"Classes\": [\n"
        + classRecord (processorCid, "Audio Module Class")
        + classRecord (controllerCid, "Component Controller Class")
        + "  ],\n"
        + "}\n";

    return Bytes (text.begin(), text.end());
}

//==============================================================================
// Version resource: a tree of VS_VERSIONINFO-style nodes, each
// { wLength, wValueLength, wType, szKey, padding, value, padding, children }.
struct VersionNode
{
    std::string key;
    Bytes value;
    uint32_t valueLength = 0; // in bytes for binary values, in characters for text
    bool isText = false;
    std::vector<VersionNode> children;
};

void putUtf16 (Bytes& b, const std::string& ascii)
{
    for (char c : ascii)
        put16 (b, (uint8_t) c);
    put16 (b, 0);
}

VersionNode textNode (const std::string& key, const std::string& value)
{
    VersionNode node;
    node.key = key;
    putUtf16 (node.value, value);
    node.valueLength = (uint32_t) value.size() + 1;
    node.isText = true;
    return node;
}

Bytes serialise (const VersionNode& node)
{
    Bytes b;
    put16 (b, 0); // wLength, patched below
    put16 (b, node.valueLength);
    put16 (b, node.isText ? 1 : 0);
    putUtf16 (b, node.key);
    padTo (b, 4);
    b.insert (b.end(), node.value.begin(), node.value.end());

    for (const auto& child : node.children)
    {
        padTo (b, 4);
        const Bytes c = serialise (child);
        b.insert (b.end(), c.begin(), c.end());
    }

    set16 (b, 0, (uint32_t) b.size());
    return b;
}

Bytes makeVersionInfo (const std::string& description, const std::string& originalName)
{
    VersionNode root;
    root.key = "VS_VERSION_INFO";
    put32 (root.value, 0xFEEF04BD); // signature
    put32 (root.value, 0x00010000); // structure version
    put32 (root.value, versionHigh); // file version
    put32 (root.value, versionLow);
    put32 (root.value, versionHigh); // product version
    put32 (root.value, versionLow);
    put32 (root.value, 0x3F);       // flags mask
    put32 (root.value, 0);          // flags
    put32 (root.value, 0x00040004); // VOS_NT_WINDOWS32
    put32 (root.value, 2);          // VFT_DLL
    put32 (root.value, 0);          // subtype
    put32 (root.value, 0);          // date
    put32 (root.value, 0);
    root.valueLength = (uint32_t) root.value.size();

    VersionNode table;
    table.key = "040904B0"; // US English, Unicode
    table.isText = true;
    table.children = {
        textNode ("CompanyName", vendorName),
        textNode ("FileDescription", description),
        textNode ("FileVersion", fileVersion),
        textNode ("InternalName", productName),
        textNode ("OriginalFilename", originalName),
        textNode ("ProductName", productName),
        textNode ("ProductVersion", productVersion),
    };

    VersionNode strings;
    strings.key = "StringFileInfo";
    strings.isText = true;
    strings.children = { table };

    VersionNode translation;
    translation.key = "Translation";
    put16 (translation.value, 0x0409);
    put16 (translation.value, 0x04B0);
    translation.valueLength = 4;

    VersionNode vars;
    vars.key = "VarFileInfo";
    vars.isText = true;
    vars.children = { translation };

    root.children = { strings, vars };
    return serialise (root);
}

// The .rsrc section: type RT_VERSION (16) -> id 1 -> language 0x0409 -> data.
Bytes makeResourceSection (uint32_t sectionRva, const Bytes& versionInfo)
{
    Bytes b;

    auto directory = [&b] (uint32_t id, uint32_t target, bool targetIsDirectory)
    {
        put32 (b, 0); // characteristics
        put32 (b, 0); // time stamp, kept 0 for reproducible output
        put16 (b, 0); // major version
        put16 (b, 0); // minor version
        put16 (b, 0); // named entries
        put16 (b, 1); // id entries
        put32 (b, id);
        put32 (b, target | (targetIsDirectory ? 0x80000000u : 0u));
    };

    directory (16, 0x18, true);      // root, at 0x00
    directory (1, 0x30, true);       // type, at 0x18
    directory (0x0409, 0x48, false); // name, at 0x30

    // data entry, at 0x48
    put32 (b, sectionRva + 0x58);
    put32 (b, (uint32_t) versionInfo.size());
    put32 (b, 0); // code page
    put32 (b, 0);

    b.insert (b.end(), versionInfo.begin(), versionInfo.end());
    return b;
}

//==============================================================================
// Code-like filler. Compiled code repeats itself: the same short instruction
// idioms recur with other stack offsets, branch distances and call targets.
// So the filler strings together idioms drawn from a fixed library, fills in
// their operands, pads functions with int3 to 16 bytes, and interleaves blocks
// of random table data that make up tablePercent of the bytes, tuned so that
// deflate keeps about 64 % of the module, as it does for a real one.
const uint32_t tablePercent = 24;

enum Operand
{
    anyByte = -1,     // any value
    stackOffset = -2, // one of a few small stack offsets
    nearTarget = -3,  // 32-bit displacement within +-1 MB (four bytes)
    shortJump = -4    // short branch distance
};

void fillCode (uint8_t* out, size_t length, Random& random)
{
    static const std::vector<std::vector<int>> instructions = {
        { 0x48, 0x89, 0x5C, 0x24, stackOffset },       // mov [rsp+x], rbx
        { 0x48, 0x89, 0x74, 0x24, stackOffset },       // mov [rsp+x], rsi
        { 0x48, 0x83, 0xEC, stackOffset },             // sub rsp, x
        { 0x48, 0x83, 0xC4, stackOffset },             // add rsp, x
        { 0x48, 0x8B, 0x4C, 0x24, stackOffset },       // mov rcx, [rsp+x]
        { 0x48, 0x8B, 0xC1 },                          // mov rax, rcx
        { 0x48, 0x8B, 0xD9 },                          // mov rbx, rcx
        { 0x48, 0x8B, 0xCB },                          // mov rcx, rbx
        { 0x33, 0xC0 },                                // xor eax, eax
        { 0x85, 0xC0 },                                // test eax, eax
        { 0x74, shortJump },                           // je short
        { 0x75, shortJump },                           // jne short
        { 0xEB, shortJump },                           // jmp short
        { 0xE8, nearTarget },                          // call rel32
        { 0x48, 0x8D, 0x0D, nearTarget },              // lea rcx, [rip+x]
        { 0x48, 0x8B, 0x05, nearTarget },              // mov rax, [rip+x]
        { 0xF3, 0x0F, 0x10, 0x44, 0x24, stackOffset }, // movss xmm0, [rsp+x]
        { 0xF3, 0x0F, 0x11, 0x43, stackOffset },       // movss [rbx+x], xmm0
        { 0xF3, 0x0F, 0x59, 0xC1 },                    // mulss xmm0, xmm1
        { 0xF3, 0x0F, 0x58, 0xC2 },                    // addss xmm0, xmm2
        { 0x0F, 0x28, 0xC8 },                          // movaps xmm1, xmm0
        { 0x41, 0x8B, 0x40, stackOffset },             // mov eax, [r8+x]
        { 0x89, 0x43, stackOffset },                   // mov [rbx+x], eax
        { 0x8B, 0x83, anyByte, anyByte, 0x00, 0x00 },  // mov eax, [rbx+x]
        { 0xFF, 0x15, nearTarget },                    // call [rip+x]
        { 0x48, 0xFF, 0xC0 },                          // inc rax
        { 0x3B, 0xC2 },                                // cmp eax, edx
        { 0x7C, shortJump },                           // jl short
    };
    static const uint8_t stackOffsets[] = { 0x08, 0x10, 0x18, 0x20, 0x28, 0x30, 0x38, 0x40, 0x48, 0x50, 0x58, 0x60 };

    // The idiom library: short runs of instructions, the same for every module.
    Random libraryRandom (0x1D10A5ull);
    std::vector<std::vector<int>> idioms (512);
    for (auto& idiom : idioms)
    {
        const uint32_t count = 2 + libraryRandom.below (5);
        for (uint32_t i = 0; i < count; ++i)
        {
            const auto& instruction = instructions[libraryRandom.below ((uint32_t) instructions.size())];
            idiom.insert (idiom.end(), instruction.begin(), instruction.end());
        }
    }

    size_t pos = 0;
    auto emit = [&] (uint8_t v)
    {
        if (pos < length)
            out[pos++] = v;
    };

    auto emitIdiom = [&] (const std::vector<int>& idiom)
    {
        for (int t : idiom)
        {
            switch (t)
            {
                case anyByte:     emit (random.byte()); break;
                case stackOffset: emit (stackOffsets[random.below (sizeof (stackOffsets))]); break;
                case shortJump:   emit ((uint8_t) (2 + random.below (40))); break;
                case nearTarget:
                {
                    const auto displacement = (uint32_t) ((int32_t) random.below (1u << 21) - (1 << 20));
                    for (int shift = 0; shift < 32; shift += 8)
                        emit ((uint8_t) (displacement >> shift));
                    break;
                }
                default:          emit ((uint8_t) t); break;
            }
        }
    };

    size_t tableBytes = 0;

    while (pos < length)
    {
        if (tableBytes * 100 < pos * tablePercent)
        {
            const size_t tableLength = 256 + random.below (3840);
            for (size_t i = 0; i < tableLength; ++i)
                emit (random.byte());
            tableBytes += tableLength;
            continue;
        }

        // one function; the often-used idioms come up more often
        const uint32_t count = 4 + random.below (24);
        for (uint32_t i = 0; i < count; ++i)
            emitIdiom (idioms[random.below (random.below ((uint32_t) idioms.size()) + 1)]);

        emit (0xC3); // ret
        while (pos % 16 != 0 && pos < length)
            emit (0xCC);
    }
}

//==============================================================================
// A PE32+ DLL for x86-64 of exactly totalSize bytes: headers, a .text section
// holding the filler, a .rsrc section holding the version resource, and an
// overlay of less than one file-alignment unit to land on the exact size.
Bytes makeModule (uint32_t totalSize, uint64_t seed, const std::string& description, const std::string& originalName)
{
    const uint32_t fileAlignment = 0x200;
    const uint32_t sectionAlignment = 0x1000;
    const uint32_t headersSize = 0x400;
    const uint32_t peOffset = 0x80;
    const uint32_t optionalHeaderSize = 240;

    const Bytes versionInfo = makeVersionInfo (description, originalName);

    // The .rsrc layout does not depend on its address except for one RVA,
    // so measure it first.
    const uint32_t rsrcLength = (uint32_t) makeResourceSection (0, versionInfo).size();
    const uint32_t rsrcRawSize = alignUp (rsrcLength, fileAlignment);

    if (totalSize < headersSize + rsrcRawSize + fileAlignment)
        throw std::runtime_error ("module size too small");

    const uint32_t textRawSize = (totalSize - headersSize - rsrcRawSize) / fileAlignment * fileAlignment;
    const uint32_t overlaySize = totalSize - headersSize - rsrcRawSize - textRawSize;

    const uint32_t textRva = sectionAlignment;
    const uint32_t rsrcRva = textRva + alignUp (textRawSize, sectionAlignment);
    const uint32_t imageSize = rsrcRva + alignUp (rsrcLength, sectionAlignment);

    Bytes b;
    b.reserve (totalSize);

    // DOS header and a stub that prints the usual message.
    put16 (b, 0x5A4D); // MZ
    put16 (b, 0x90);
    put16 (b, 3);
    put16 (b, 0);
    put16 (b, 4);
    put16 (b, 0);
    put16 (b, 0xFFFF);
    put16 (b, 0);
    put16 (b, 0xB8);
    put16 (b, 0);
    put16 (b, 0);
    put16 (b, 0);
    put16 (b, 0x40);
    put16 (b, 0);
    while (b.size() < 0x3C)
        b.push_back (0);
    put32 (b, peOffset);

    const uint8_t stub[] = { 0x0E, 0x1F, 0xBA, 0x0E, 0x00, 0xB4, 0x09, 0xCD, 0x21, 0xB8, 0x01, 0x4C, 0xCD, 0x21 };
    b.insert (b.end(), std::begin (stub), std::end (stub));
    putText (b, "This program cannot be run in DOS mode.\r\r\n$");
    while (b.size() < peOffset)
        b.push_back (0);

    // COFF file header
    putText (b, std::string ("PE\0\0", 4));
    put16 (b, 0x8664); // x86-64
    put16 (b, 2);      // sections
    put32 (b, 0);      // time stamp, 0 for reproducible output
    put32 (b, 0);
    put32 (b, 0);
    put16 (b, optionalHeaderSize);
    put16 (b, 0x2022); // executable image, large address aware, DLL

    // PE32+ optional header
    const size_t optionalHeaderStart = b.size();
    put16 (b, 0x20B);
    b.push_back (14); // linker version
    b.push_back (0);
    put32 (b, textRawSize);                 // size of code
    put32 (b, rsrcRawSize);                 // size of initialised data
    put32 (b, 0);
    put32 (b, textRva);                     // entry point: DllMain at the start of .text
    put32 (b, textRva);                     // base of code
    put64 (b, 0x180000000ull);              // image base
    put32 (b, sectionAlignment);
    put32 (b, fileAlignment);
    put16 (b, 6);                           // OS version
    put16 (b, 0);
    put16 (b, 1);                           // image version
    put16 (b, 0);
    put16 (b, 6);                           // subsystem version
    put16 (b, 0);
    put32 (b, 0);
    put32 (b, imageSize);
    put32 (b, headersSize);
    const size_t checksumAt = b.size();
    put32 (b, 0);                           // checksum, patched below
    put16 (b, 2);                           // Windows GUI subsystem
    put16 (b, 0x0100);                      // NX compatible
    put64 (b, 0x100000);                    // stack reserve
    put64 (b, 0x1000);                      // stack commit
    put64 (b, 0x100000);                    // heap reserve
    put64 (b, 0x1000);                      // heap commit
    put32 (b, 0);
    put32 (b, 16);                          // data directories

    for (uint32_t i = 0; i < 16; ++i)
    {
        put32 (b, i == 2 ? rsrcRva : 0);    // 2: resource table
        put32 (b, i == 2 ? rsrcLength : 0);
    }

    if (b.size() - optionalHeaderStart != optionalHeaderSize)
        throw std::logic_error ("optional header size");

    auto sectionHeader = [&b] (const char* name, uint32_t virtualSize, uint32_t rva,
                               uint32_t rawSize, uint32_t rawOffset, uint32_t characteristics)
    {
        char padded[8] = {};
        std::memcpy (padded, name, std::strlen (name));
        b.insert (b.end(), padded, padded + 8);
        put32 (b, virtualSize);
        put32 (b, rva);
        put32 (b, rawSize);
        put32 (b, rawOffset);
        put32 (b, 0);
        put32 (b, 0);
        put16 (b, 0);
        put16 (b, 0);
        put32 (b, characteristics);
    };

    sectionHeader (".text", textRawSize, textRva, textRawSize, headersSize, 0x60000020);
    sectionHeader (".rsrc", rsrcLength, rsrcRva, rsrcRawSize, headersSize + textRawSize, 0x40000040);

    b.resize (headersSize, 0);

    Random random (seed);
    b.resize (headersSize + textRawSize);
    fillCode (b.data() + headersSize, textRawSize, random);

    // DllMain: return TRUE.
    const uint8_t dllMain[] = { 0xB8, 0x01, 0x00, 0x00, 0x00, 0xC3 };
    std::memcpy (b.data() + headersSize, dllMain, sizeof (dllMain));

    const Bytes rsrc = makeResourceSection (rsrcRva, versionInfo);
    b.insert (b.end(), rsrc.begin(), rsrc.end());
    b.resize (headersSize + textRawSize + rsrcRawSize, 0);

    // Overlay: trailing padding, as signing or installer tools leave behind.
    for (uint32_t i = 0; i < overlaySize; ++i)
        b.push_back (0);

    // The image checksum, computed the way the loader's tools do.
    uint64_t sum = 0;
    for (size_t i = 0; i + 1 < b.size(); i += 2)
    {
        if (i == checksumAt || i == checksumAt + 2)
            continue;

        sum += (uint32_t) b[i] | ((uint32_t) b[i + 1] << 8);
        sum = (sum & 0xFFFF) + (sum >> 16);
    }
    if (b.size() % 2 != 0)
    {
        sum += b.back();
        sum = (sum & 0xFFFF) + (sum >> 16);
    }
    sum = (sum & 0xFFFF) + (sum >> 16);
    set32 (b, checksumAt, (uint32_t) sum + (uint32_t) b.size());

    if (b.size() != totalSize)
        throw std::logic_error ("module size");

    return b;
}

//==============================================================================
bool sameContent (const fs::path& path, const Bytes& content)
{
    std::error_code ec;
    if (! fs::is_regular_file (path, ec) || fs::file_size (path, ec) != content.size())
        return false;

    std::ifstream in (path, std::ios::binary);
    Bytes existing (content.size());
    in.read (reinterpret_cast<char*> (existing.data()), (std::streamsize) existing.size());
    return in && existing == content;
}

void writeFile (const fs::path& path, const Bytes& content)
{
    if (sameContent (path, content))
        return;

    fs::create_directories (path.parent_path());
    const fs::path temp = path.string() + ".part";

    {
        std::ofstream out (temp, std::ios::binary | std::ios::trunc);
        out.write (reinterpret_cast<const char*> (content.data()), (std::streamsize) content.size());
        if (! out)
            throw std::runtime_error ("cannot write " + temp.string());
    }

    fs::rename (temp, path);
}

// Removes whatever inside a bundle folder is not one of the demo's files, so
// that leftovers never end up in an archive.
void removeStrays (const fs::path& bundle, const std::set<fs::path>& keep)
{
    std::vector<fs::path> strays;

    for (auto it = fs::recursive_directory_iterator (bundle); it != fs::recursive_directory_iterator(); ++it)
    {
        const fs::path& p = it->path();
        if (it->is_directory() && ! it->is_symlink())
        {
            bool isParentOfKept = false;
            for (const auto& k : keep)
                if (std::mismatch (p.begin(), p.end(), k.begin(), k.end()).first == p.end())
                    isParentOfKept = true;

            if (! isParentOfKept)
            {
                strays.push_back (p);
                it.disable_recursion_pending();
            }
        }
        else if (keep.count (p) == 0)
        {
            strays.push_back (p);
        }
    }

    for (const auto& p : strays)
        fs::remove_all (p);
}

void writeBundle (const fs::path& bundle, const std::vector<std::pair<std::string, Bytes>>& files)
{
    std::error_code ec;
    if (fs::exists (fs::symlink_status (bundle, ec)) && ! fs::is_directory (fs::symlink_status (bundle, ec)))
        fs::remove (bundle);

    std::set<fs::path> keep;
    for (const auto& [relative, content] : files)
    {
        writeFile (bundle / relative, content);
        keep.insert (bundle / relative);
    }

    removeStrays (bundle, keep);
}

//==============================================================================
// A VST3 bundle of about totalSize bytes for the benchmarks.
void writeSizedVst3 (const fs::path& outDir, uint64_t totalSize)
{
    const uint64_t moduleLimit = 32ull << 20;
    const uint64_t dataFileLimit = 256ull << 20;
    const std::string name = productName;

    std::vector<std::pair<std::string, Bytes>> files {
        { "desktop.ini", makeDesktopIni() },
        { "Plugin.ico", makePluginIco() },
        { "Contents/Resources/moduleinfo.json", makeModuleInfo() },
    };

    uint64_t left = totalSize;
    const auto moduleSize = (uint32_t) std::max<uint64_t> (std::min (left, moduleLimit), 0x10000);
    files.push_back ({ "Contents/x86_64-win/" + name + ".vst3",
                       makeModule (moduleSize, 0x5653543301ull, name + " VST3 plug-in", name + ".vst3") });
    left -= std::min<uint64_t> (left, moduleSize);

    Random random (0x44415441ull);

    for (int index = 1; left > 0; ++index)
    {
        Bytes data ((size_t) std::min (left, dataFileLimit));
        fillCode (data.data(), data.size(), random);
        left -= data.size();

        char fileName[32];
        std::snprintf (fileName, sizeof (fileName), "Data_%02d.bin", index);
        files.push_back ({ std::string ("Contents/Resources/Data/") + fileName, std::move (data) });
    }

    writeBundle (outDir / (name + ".vst3"), files);
}

// "X.Y.Z" (or up to four numbers) gives the version strings and the fixed
// version X.Y.Z.0 of the modules.
void setVersion (const std::string& text)
{
    uint32_t parts[4] = {};
    size_t count = 0, pos = 0;

    while (count < 4)
    {
        size_t used = 0;
        const auto number = std::stoul (text.substr (pos), &used);
        if (used == 0 || number > 0xFFFF || ! std::isdigit ((unsigned char) text[pos]))
            throw std::runtime_error ("version must be numbers joined by dots: " + text);

        parts[count++] = (uint32_t) number;
        pos += used;
        if (pos == text.size())
            break;
        if (text[pos] != '.' || count == 4)
            throw std::runtime_error ("version must be up to four numbers joined by dots: " + text);
        ++pos;
    }

    productVersion = text;
    fileVersion = std::to_string (parts[0]) + "." + std::to_string (parts[1]) + "."
                + std::to_string (parts[2]) + "." + std::to_string (parts[3]);
    versionHigh = parts[0] << 16 | parts[1];
    versionLow = parts[2] << 16 | parts[3];
}
} // namespace

//==============================================================================
int main (int argc, char** argv)
{
    const auto usageText = "usage: oh_payload_generate [--name N] [--version X.Y.Z] [--vendor V] [--module-size BYTES] <output folder>\n"
                           "       oh_payload_generate [--name N ...] --vst3-of-size <bytes> <output folder>\n";
    const auto usage = [usageText]
    {
        std::cerr << usageText;
        return 2;
    };

    std::vector<std::string> args (argv + 1, argv + argc);

    // Asked for help, it answers and writes nothing.
    if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h"))
    {
        std::cout << usageText;
        return 0;
    }

    // A mistyped option would otherwise become the name of the folder it writes.
    if (args.empty() || args.size() % 2 == 0 || args.back().rfind ("-", 0) == 0)
        return usage();

    uint64_t sizedVst3 = 0;

    try
    {
        for (size_t i = 0; i + 1 < args.size(); i += 2)
        {
            const auto& option = args[i];
            const auto& value = args[i + 1];

            // A value is never an option: "--name --vendor V" is a mistake, and
            // a negative size would wrap round to a huge one.
            if (value.rfind ("-", 0) == 0)
                return usage();

            if (option == "--name")
                productName = value;
            else if (option == "--vendor")
                vendorName = value;
            else if (option == "--version")
                setVersion (value);
            else if (option == "--module-size")
                vst3ModuleSize = clapModuleSize = aaxModuleSize = (uint32_t) std::stoul (value);
            else if (option == "--vst3-of-size")
                sizedVst3 = std::stoull (value);
            else
                return usage();
        }

        const fs::path outDir = args.back();

        if (sizedVst3 > 0)
        {
            writeSizedVst3 (outDir, sizedVst3);
            return 0;
        }

        const std::string name = productName;

        const Bytes desktopIni = makeDesktopIni();
        const Bytes icon = makePluginIco();

        writeBundle (outDir / (name + ".vst3"), {
            { "desktop.ini", desktopIni },
            { "Plugin.ico", icon },
            { "Contents/Resources/moduleinfo.json", makeModuleInfo() },
            { "Contents/x86_64-win/" + name + ".vst3",
              makeModule (vst3ModuleSize, 0x5653543301ull, name + " VST3 plug-in", name + ".vst3") },
        });

        {
            const fs::path clap = outDir / (name + ".clap");
            if (fs::is_directory (fs::symlink_status (clap)))
                fs::remove_all (clap);
            writeFile (clap, makeModule (clapModuleSize, 0x434C415001ull, name + " CLAP plug-in", name + ".clap"));
        }

        writeBundle (outDir / (name + ".aaxplugin"), {
            { "desktop.ini", desktopIni },
            { "Plugin.ico", icon },
            { "Contents/x64/" + name + ".aaxplugin",
              makeModule (aaxModuleSize, 0x4141580001ull, name + " AAX plug-in", name + ".aaxplugin") },
        });
    }
    catch (const std::exception& e)
    {
        std::cerr << "oh_payload_generate: " << e.what() << "\n";
        return 1;
    }

    return 0;
}
