#include "ZipFixture.h"

#include <zlib.h>

namespace
{
void put16 (juce::MemoryOutputStream& out, int v)       { out.writeShort ((short) v); }
void put32 (juce::MemoryOutputStream& out, juce::uint32 v) { out.writeInt ((int) v); }

juce::MemoryBlock deflateRaw (const juce::MemoryBlock& data)
{
    z_stream s {};
    deflateInit2 (&s, 1, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
    juce::MemoryBlock out (deflateBound (&s, (uLong) data.getSize()) + 16);
    s.next_in = static_cast<Bytef*> (const_cast<void*> (data.getData()));
    s.avail_in = (uInt) data.getSize();
    s.next_out = static_cast<Bytef*> (out.getData());
    s.avail_out = (uInt) out.getSize();
    deflate (&s, Z_FINISH);
    out.setSize (s.total_out);
    deflateEnd (&s);
    return out;
}

// 2024-03-15 10:20:30 in DOS form.
constexpr int dosTime = (10 << 11) | (20 << 5) | (30 / 2);
constexpr int dosDate = ((2024 - 1980) << 9) | (3 << 5) | 15;
} // namespace

juce::Time ZipFixture::entryTime()
{
    return { 2024, 2, 15, 10, 20, 30 };
}

ZipFixture& ZipFixture::directory (const juce::String& name)
{
    entries.push_back ({ name + "\\", {}, true });
    return *this;
}

ZipFixture& ZipFixture::file (const juce::String& name, const juce::MemoryBlock& content)
{
    entries.push_back ({ name, content, false });
    return *this;
}

ZipFixture& ZipFixture::file (const juce::String& name, const juce::String& text)
{
    return file (name, juce::MemoryBlock (text.toRawUTF8(), text.getNumBytesAsUTF8()));
}

ZipFixture::Entry& ZipFixture::last()
{
    jassert (! entries.empty());
    return entries.back();
}

ZipFixture& ZipFixture::withWrongCrc()        { last().wrongCrc = true;     return *this; }
ZipFixture& ZipFixture::withBadDeflateData()  { last().badDeflate = true;   return *this; }
ZipFixture& ZipFixture::withFlippedBit()      { last().flippedBit = true;   return *this; }
ZipFixture& ZipFixture::withCutData()         { last().cut = true;          return *this; }
ZipFixture& ZipFixture::asSymbolicLink()      { last().symbolicLink = true; return *this; }
ZipFixture& ZipFixture::asStored()            { last().stored = true;       return *this; }
ZipFixture& ZipFixture::withClaimedSize (juce::uint32 size) { last().claimedSize = size; return *this; }
ZipFixture& ZipFixture::withCompressedSize (juce::uint32 size) { last().compressedSize = size; return *this; }
ZipFixture& ZipFixture::withFlags (juce::uint16 flags)     { last().flags = flags;     return *this; }
ZipFixture& ZipFixture::withMethod (juce::uint16 method)   { last().method = method;   return *this; }

juce::MemoryBlock ZipFixture::build() const
{
    juce::MemoryBlock archive;
    juce::MemoryOutputStream out (archive, false);

    struct Written { juce::uint32 crc, compressed, uncompressed, offset; int method, flags; };
    std::vector<Written> written;

    for (auto& e : entries)
    {
        juce::MemoryBlock stored;
        juce::uint32 crc = 0;

        if (! e.isDirectory)
        {
            crc = (juce::uint32) crc32 (0, static_cast<const Bytef*> (e.content.getData()), (uInt) e.content.getSize());
            stored = e.stored ? e.content : deflateRaw (e.content);
        }

        if (e.wrongCrc)
            crc ^= 0x00010000;

        auto* bytes = static_cast<juce::uint8*> (stored.getData());

        if (e.badDeflate && stored.getSize() > 0)
            bytes[0] |= 0x06;                       // block type 3 is reserved

        if (e.flippedBit && stored.getSize() > 0)
            bytes[stored.getSize() / 2] ^= 0x10;

        if (e.cut)
            stored.setSize (stored.getSize() / 2);

        written.push_back ({ crc, e.compressedSize.value_or ((juce::uint32) stored.getSize()),
                             e.claimedSize.value_or ((juce::uint32) e.content.getSize()),
                             (juce::uint32) out.getPosition(), e.method.value_or (e.isDirectory || e.stored ? 0 : 8), e.flags });

        const auto name = e.name.toStdString();
        put32 (out, 0x04034b50);
        put16 (out, 20);                            // version needed: 2.0
        put16 (out, written.back().flags);
        put16 (out, written.back().method);
        put16 (out, dosTime);
        put16 (out, dosDate);
        put32 (out, crc);
        put32 (out, written.back().compressed);
        put32 (out, written.back().uncompressed);
        put16 (out, (int) name.size());
        put16 (out, 0);
        out.write (name.data(), name.size());
        out.write (stored.getData(), stored.getSize());
    }

    const auto directoryStart = (juce::uint32) out.getPosition();

    for (size_t i = 0; i < entries.size(); ++i)
    {
        const auto& e = entries[i];
        const auto name = e.name.toStdString();
        put32 (out, 0x02014b50);
        put16 (out, e.symbolicLink ? 0x0314 : 20);  // made by: MS-DOS 2.0, or Unix for a link
        put16 (out, 20);
        put16 (out, written[i].flags);
        put16 (out, written[i].method);
        put16 (out, dosTime);
        put16 (out, dosDate);
        put32 (out, written[i].crc);
        put32 (out, written[i].compressed);
        put32 (out, written[i].uncompressed);
        put16 (out, (int) name.size());
        put16 (out, 0);                             // extra
        put16 (out, 0);                             // comment
        put16 (out, 0);                             // disk
        put16 (out, 0);                             // internal attributes
        put32 (out, e.symbolicLink ? 0xA1FF0000u : 0u);
        put32 (out, written[i].offset);
        out.write (name.data(), name.size());
    }

    const auto directoryEnd = (juce::uint32) out.getPosition();
    put32 (out, 0x06054b50);
    put16 (out, 0);
    put16 (out, 0);
    put16 (out, (int) entries.size());
    put16 (out, (int) entries.size());
    put32 (out, directoryEnd - directoryStart);
    put32 (out, directoryStart);
    put16 (out, 0);
    out.flush();
    return archive;
}

juce::MemoryBlock ZipFixture::sampleContent (size_t size, int seed)
{
    // Words from a small vocabulary picked by a simple generator: text that
    // deflates to roughly a third, like real code and data would not, but cheaply.
    static const char* words[] = { "alpha ", "bravo ", "charlie ", "delta ", "echo ", "foxtrot ",
                                   "golf ", "hotel ", "india ", "juliet ", "kilo ", "lima ",
                                   "0x1f ", "0xa3 ", "{ ", "}\n" };
    juce::MemoryBlock block (size);
    auto* p = static_cast<char*> (block.getData());
    juce::uint32 state = 2463534242u + (juce::uint32) seed * 7919u;

    for (size_t i = 0; i < size;)
    {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;

        for (auto* w = words[state & 15]; *w != 0 && i < size; ++w)
            p[i++] = *w;
    }

    return block;
}
