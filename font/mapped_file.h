// Read-only access to a whole font file through one memory mapping, and to
// byte ranges of it through views that share that mapping.
//
// This class is the one place where font bytes are touched. Every read is
// checked against the end of the file or view it is made on, so whatever a
// font's directory, offsets or counts say, no read can leave the mapping:
// a read that does not fit yields 0. A view's range is checked once, when the
// table directory is parsed, so a view never reaches outside its file.
//
// Two ways to read, both big-endian and alignment-free:
//  - the cursor reads (readU16 ...) read at the cursor and advance it; a read
//    that does not fit, and any seek or skip outside the view, leaves the
//    cursor at the end of the view, where every further read yields 0;
//  - the positional reads (u16At ...) read at a byte position of the view
//    and leave the cursor alone, for lookups in a const table.
#pragma once

#include <cstddef>
#include <cstdint>

class MappedFile {
public:
    MappedFile() = default;

    // Maps the whole file at path read-only and shared. Anything that is not
    // a regular file of 1 byte to 2 GiB - 1 that can be opened and mapped
    // leaves every field zero (isMapped() is then false). Prints nothing.
    void openFile(const char* path);

    // Makes this a view on bytes [offset, offset + length) of owner. The
    // caller has checked that the range lies inside the owner.
    void makeView(const MappedFile& owner, uint32_t offset, uint32_t length);

    // Unmaps the file; only for an object made by openFile (never a view).
    void release();

    const uint8_t* base() const { return viewBase; }
    bool isMapped() const { return mapping != nullptr; }
    int32_t length() const { return viewLength; }

    // True when [pos, pos + count) lies inside this file or view.
    bool contains(int64_t pos, int64_t count) const
    {
        return pos >= 0 && count >= 0 && pos <= int64_t(viewLength) - count;
    }

    // Pointer to count bytes at pos, or null when they do not all lie inside.
    // For loops that check a whole array once and then read it directly
    // with bigEndian16.
    const uint8_t* bytesAt(int64_t pos, int64_t count) const
    {
        return contains(pos, count) ? viewBase + pos : nullptr;
    }

    static uint16_t bigEndian16(const uint8_t* bytes) { return uint16_t(bytes[0] << 8 | bytes[1]); }

    void seek(int64_t offset)
    {
        cursor = contains(offset, 0) ? viewBase + offset : viewBase + viewLength;
    }
    void skip(int64_t count)
    {
        cursor = count >= -int64_t(tell()) && count <= remaining() ? cursor + count : viewBase + viewLength;
    }
    int32_t tell() const { return int32_t(cursor - viewBase); }

    uint8_t readU8()
    {
        if (remaining() < 1)
            return atEnd();
        return *cursor++;
    }
    int8_t readS8() { return int8_t(readU8()); }
    uint16_t readU16()
    {
        if (remaining() < 2)
            return atEnd();
        uint16_t value = bigEndian16(cursor);
        cursor += 2;
        return value;
    }
    int16_t readS16() { return int16_t(readU16()); }
    uint32_t readU32()
    {
        if (remaining() < 4)
            return atEnd();
        uint32_t value = uint32_t(cursor[0]) << 24 | uint32_t(cursor[1]) << 16 | uint32_t(cursor[2]) << 8 | cursor[3];
        cursor += 4;
        return value;
    }
    int32_t readS32() { return int32_t(readU32()); }

    uint8_t u8At(int64_t pos) const { return contains(pos, 1) ? viewBase[pos] : 0; }
    int8_t s8At(int64_t pos) const { return int8_t(u8At(pos)); }
    uint16_t u16At(int64_t pos) const { return contains(pos, 2) ? bigEndian16(viewBase + pos) : 0; }
    int16_t s16At(int64_t pos) const { return int16_t(u16At(pos)); }
    uint32_t u32At(int64_t pos) const
    {
        if (!contains(pos, 4))
            return 0;
        const uint8_t* p = viewBase + pos;
        return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
    }
    int32_t s32At(int64_t pos) const { return int32_t(u32At(pos)); }

private:
    int64_t remaining() const { return (viewBase + viewLength) - cursor; }
    uint8_t atEnd()
    {
        cursor = viewBase + viewLength;
        return 0;
    }

    // cursor always lies in [viewBase, viewBase + viewLength].
    const uint8_t* cursor = nullptr;
    const uint8_t* viewBase = nullptr;
    const uint8_t* mapping = nullptr;
    int32_t viewLength = 0;
};

// Files shrink while they are mapped: a font truncated or copied over in
// place, a database file truncated by hand. Reading a page that no longer
// has file behind it raises SIGBUS, which would end the serving process
// with no answer to its client. Every mapping of a served file is therefore
// registered here; installMappingGuard's handler replaces the lost pages of
// a registered mapping with zero pages, so the read that faulted and every
// later one see zeros (which the readers handle as they handle any damaged
// file), and marks the mapping. The request loop then withholds the answer
// built from those zeros, answers with an error and drops what the mapping
// belonged to. A SIGBUS anywhere else keeps its default action.

// Installs the SIGBUS handler for the process.
void installMappingGuard();
// Registers length bytes mapped at start; without a free entry the mapping
// stays unguarded.
void guardMapping(const void* start, size_t length);
// Forgets the mapping at start, before it is unmapped.
void unguardMapping(const void* start);
// True when a registered mapping has lost pages since the last
// takeMappingFault; takeMappingFault also clears that.
bool mappingFaultPending();
bool takeMappingFault();
// True when the registered mapping at start has lost pages.
bool mappingFaulted(const void* start);
