// The codec alone: one frame read into a typed field list, every kind of
// field, with the link's cipher on or off. A list that reads the whole frame
// is packed again and must give the same bytes.
//
// Input: a flags byte (bit 0: keyed, bit 1: the input holds the length
// bytes itself; bits 2-7: the discard), six field kinds (FieldKind, with the
// skip count in the upper bits), then the frame content.
#include "fuzz/targets.h"
#include "worldlink/wire/wire.h"

#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <vector>

using namespace worldlink;

namespace {

constexpr int FIELDS = 6;

enum FieldKind { KIND_BYTE, KIND_WORD, KIND_LONG, KIND_STRING, KIND_DATA, KIND_ADDRESS, KIND_SKIP, KIND_REMAINING, KINDS };

struct Field {
    int kind = KIND_BYTE;
    int skip = 0;
    uint8_t byte = 0;
    uint16_t word = 0;
    int32_t number = 0;
    uint32_t address = 0;
    char text[256] = {};
    int length = 0;
    uint8_t data[255] = {};
    int remaining = 0;
    int left_after = 0;

    UnpackItem item() {
        switch (kind) {
        case KIND_BYTE: return unpack_byte(&byte);
        case KIND_WORD: return unpack_word(&word);
        case KIND_LONG: return unpack_long(&number);
        case KIND_STRING: return unpack_string(text);
        case KIND_DATA: return unpack_data(&length, data);
        case KIND_ADDRESS: return unpack_address(&address);
        case KIND_SKIP: return unpack_skip(skip);
        default: return unpack_remaining(&remaining);
        }
    }
    // A string's length is what its read took, less the length byte.
    PackItem pack(int left_before) const {
        switch (kind) {
        case KIND_BYTE: return pack_byte(byte);
        case KIND_WORD: return pack_word(word);
        case KIND_LONG: return pack_long(number);
        case KIND_STRING: return pack_data(left_before - left_after - 1, text);
        case KIND_DATA: return pack_data(length, data);
        case KIND_ADDRESS: return pack_address(address);
        default: return pack_stop();
        }
    }
};

struct Pair {
    int ends[2] = {-1, -1};
    Pair() { socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, ends); }
    ~Pair() {
        for (int end : ends)
            if (end >= 0) close(end);
    }
};

Connection* adopt(Pair& pair) {
    Connection* connection = nullptr;
    if (pair.ends[0] < 0 || connection_adopt(pair.ends[0], &connection) != 0) return nullptr;
    pair.ends[0] = -1;
    return connection;
}

std::vector<uint8_t> receive_all(int end) {
    std::vector<uint8_t> bytes;
    uint8_t buffer[4096];
    ssize_t got;
    while ((got = recv(end, buffer, sizeof buffer, 0)) > 0) bytes.insert(bytes.end(), buffer, buffer + got);
    return bytes;
}

// The read outputs of a failed item are zero.
bool cleared(const Field& field) {
    switch (field.kind) {
    case KIND_BYTE: return field.byte == 0;
    case KIND_WORD: return field.word == 0;
    case KIND_LONG: return field.number == 0;
    case KIND_STRING: return field.text[0] == 0;
    case KIND_DATA: return field.length == 0;
    case KIND_ADDRESS: return field.address == 0;
    default: return true;
    }
}

}  // namespace

int fuzz_codec(const uint8_t* data, size_t size) {
    FuzzInput input{data, size};
    const uint8_t flags = input.byte();
    const bool keyed = (flags & 1) != 0;
    const bool raw = (flags & 2) != 0;
    const int discard = (flags >> 2) * 1021;
    Field fields[FIELDS];
    for (Field& field : fields) {
        const uint8_t kind = input.byte();
        field.kind = kind % KINDS;
        field.skip = kind / KINDS;
    }
    const std::string_view content = input.rest();

    std::vector<uint8_t> stream;
    if (!raw) {
        stream.push_back(static_cast<uint8_t>(content.size() >> 8));
        stream.push_back(static_cast<uint8_t>(content.size()));
    }
    stream.insert(stream.end(), content.begin(), content.end());
    if (keyed) {
        Rc4State* cipher = rc4_create(LINK_KEY, sizeof LINK_KEY);
        rc4_skip(cipher, discard);
        rc4_apply(cipher, stream.data(), static_cast<int>(stream.size()));
        rc4_destroy(cipher);
    }

    Pair in;
    Connection* link = adopt(in);
    if (link == nullptr) return 0;
    if (keyed) connection_start_ciphers(link, discard, discard);
    if (!stream.empty()) send(in.ends[1], stream.data(), stream.size(), MSG_NOSIGNAL);
    shutdown(in.ends[1], SHUT_WR);

    const int received = connection_receive(link);
    if (received != 0) {
        connection_close(link);
        return 0;
    }
    const int frame_length = link->message_left;
    fuzz_require(frame_length > 0 && frame_length <= CONNECTION_BUFFER, "a frame's length within the buffer");
    uint8_t type = 0;
    int left = 0;
    Field* f = fields;
    const int reason = msg_unpack(
        link, {unpack_byte(&type), unpack_remaining(&left), f[0].item(), unpack_remaining(&f[0].left_after),
               f[1].item(), unpack_remaining(&f[1].left_after), f[2].item(), unpack_remaining(&f[2].left_after),
               f[3].item(), unpack_remaining(&f[3].left_after), f[4].item(), unpack_remaining(&f[4].left_after),
               f[5].item(), unpack_remaining(&f[5].left_after), unpack_end()});
    connection_close(link);

    bool skipped = false;
    int before = left;
    for (const Field& field : fields) {
        fuzz_require(field.left_after >= 0 && field.left_after <= before, "remaining counts only fall");
        fuzz_require(field.kind != KIND_STRING || strlen(field.text) < 256, "a string ends within its buffer");
        fuzz_require(field.kind != KIND_DATA || (field.length >= 0 && field.length <= 255), "data of 0 to 255 bytes");
        if (reason != 0 && field.left_after == 0 && before == 0) fuzz_require(cleared(field), "a failed read leaves zeros");
        skipped = skipped || field.kind == KIND_SKIP || field.kind == KIND_REMAINING;
        before = field.left_after;
    }
    if (reason != 0 || skipped) return 0;

    // The whole frame was read: packing the values again gives it back.
    Pair out;
    Connection* echo = adopt(out);
    if (echo == nullptr) return 0;
    if (keyed) connection_start_ciphers(echo, discard, discard);
    before = left;
    PackItem items[FIELDS];
    for (int k = 0; k < FIELDS; ++k) {
        items[k] = fields[k].pack(before);
        before = fields[k].left_after;
    }
    const int packed = msg_pack(echo, {pack_begin(type), items[0], items[1], items[2], items[3], items[4], items[5], pack_end()});
    connection_close(echo);
    fuzz_require(packed == 0, "values read pack again");
    std::vector<uint8_t> again = receive_all(out.ends[1]);
    if (keyed) {
        Rc4State* cipher = rc4_create(LINK_KEY, sizeof LINK_KEY);
        rc4_skip(cipher, discard);
        rc4_apply(cipher, again.data(), static_cast<int>(again.size()));
        rc4_destroy(cipher);
    }
    fuzz_require(again.size() == static_cast<size_t>(frame_length) + 2, "the packed frame has the read length");
    fuzz_require(std::memcmp(again.data() + 2, content.data() + (raw ? 2 : 0), static_cast<size_t>(frame_length)) == 0,
                 "the packed frame has the read bytes");
    return 0;
}
