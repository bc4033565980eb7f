#include "worldlink/wire/wire.h"

#include <cstdlib>
#include <cstring>

namespace worldlink {

// Every entry is one allocation: this header, the key bytes, a gap, then the
// caller's value area. The classic layout (4-byte next pointer) puts the value
// at (key length + 14) & ~3; with 8-byte pointers the header is 16 bytes and
// the value area starts at the next multiple of 8 after the key, so values
// holding pointers or 64-bit numbers stay aligned.
struct TableEntry {
    TableEntry* next;
    int key_length;
};

namespace {

// Entries 0, 1 and 255 are fixed by the protocol's reference hash; the rest
// are splitmix64 outputs (seed 0x536B79666C6974, one draw per index) masked
// to 31 bits, generated once and frozen here. Any fixed values would do: the
// hash only chooses buckets and never leaves the process.
constexpr uint32_t HASH_TABLE[256] = {
    0x7BE9C1BD, 0x088AA102, 0x4D2A3E63, 0x47BA6E40, 0x70C6CE59, 0x61A73DC5,
    0x5285A728, 0x24250E0F, 0x025E7EEC, 0x05ECE2B3, 0x337DF0C7, 0x2EA490CB,
    0x25C400E5, 0x085AECFC, 0x023CCC48, 0x0BB4F05F, 0x60BE705D, 0x3F15FFF3,
    0x00B5EA42, 0x57731D4D, 0x2463BCD1, 0x51663C24, 0x516E0875, 0x4E56FE9F,
    0x6C22DBA8, 0x2AF3EDC5, 0x6B3428A3, 0x4DE8C400, 0x50C13B4C, 0x05274CB1,
    0x4F283137, 0x3844C9C2, 0x478DA591, 0x5F0AB8FB, 0x596F29FB, 0x1471881D,
    0x580D7820, 0x7343B27B, 0x5F379DBD, 0x3B39651E, 0x51AF596C, 0x138919E6,
    0x0C5079EB, 0x4928D6FB, 0x4A332E12, 0x5AEDD2FF, 0x69CBE1D6, 0x50FBB2DC,
    0x6DB0D0CA, 0x43DE98B6, 0x290E3C05, 0x34CB751E, 0x79AFA535, 0x585EFFD9,
    0x03FFF6C6, 0x1D957BBA, 0x2E8CB811, 0x7DAD5E68, 0x430CE810, 0x727A5D93,
    0x1E56C0CD, 0x09B389A5, 0x5158B328, 0x70E11A9E, 0x7E1EB441, 0x3DC1FCF2,
    0x6496FE8E, 0x5CDDB7A0, 0x3CC4AF43, 0x0757D8EB, 0x1ABB6D34, 0x0AC25419,
    0x4299BF69, 0x01ED32D3, 0x212F51E2, 0x10508356, 0x1BD066EA, 0x1894EB52,
    0x211DB9B9, 0x07D2A64E, 0x1FB96DC1, 0x73E4C75C, 0x083E58AA, 0x199B26B6,
    0x685E10DE, 0x67333281, 0x115FE969, 0x07A01C72, 0x077B0DBC, 0x06F285E0,
    0x3301CA20, 0x620C2CD8, 0x53D93B9C, 0x65167A2F, 0x2CB569B0, 0x1257A4D8,
    0x1EE9090D, 0x67081611, 0x01F9A981, 0x2CD84650, 0x6A74B780, 0x211DB0D7,
    0x1F050C85, 0x0A8F7FE2, 0x5C14BC4B, 0x563622B8, 0x65A4B8D4, 0x3E7F5DC3,
    0x050AA81B, 0x77B3D12E, 0x5D4FC1AA, 0x385C057E, 0x3ECEE99A, 0x2A956DB2,
    0x288C5122, 0x685D310E, 0x480FBD19, 0x0B4A9337, 0x5A9950BF, 0x659A5B66,
    0x06D70AD8, 0x59113169, 0x182F4BA0, 0x6A678141, 0x34FD05D9, 0x4C6676F9,
    0x3960F347, 0x055C9D98, 0x3DADF7C5, 0x1C7E40A5, 0x4C600A6B, 0x58BEF3AE,
    0x1C7B2D6E, 0x7C8F6D64, 0x63765D2B, 0x05111ADE, 0x5E401828, 0x41253E73,
    0x751D8C87, 0x5726401A, 0x00A9B47C, 0x3FFB37A5, 0x76A489AF, 0x3006191C,
    0x6F390047, 0x3DE573DA, 0x54F330FC, 0x17BDEB21, 0x26C9B1F3, 0x06098156,
    0x51F9654A, 0x0AA59370, 0x5964D8E8, 0x16297ADC, 0x01FA9369, 0x4494ED19,
    0x368F87E4, 0x2B01C6E5, 0x4661F850, 0x010FD9AE, 0x3FCB3BD1, 0x450961CC,
    0x765DA56D, 0x2C2E6540, 0x1070FD20, 0x1FFBCAF7, 0x1B98CA47, 0x73B3CC25,
    0x58A14A87, 0x4EDCDF4E, 0x727FD630, 0x401E8082, 0x2068C613, 0x462729A0,
    0x0E7810B9, 0x70A77F50, 0x544833D7, 0x5DDFBC48, 0x47E403EE, 0x78828AED,
    0x687366FF, 0x4A93C1FD, 0x6B21120F, 0x3D40302F, 0x56874633, 0x21834EE8,
    0x07647734, 0x7934F09E, 0x69270A37, 0x2A2CDC2F, 0x409826A4, 0x51A72DD8,
    0x197F3B3A, 0x2C911141, 0x54F1746A, 0x21F38669, 0x11A8BF7C, 0x64A14E89,
    0x72CF8214, 0x2F2107A6, 0x37FD35B9, 0x52091595, 0x6BD833B6, 0x339F8921,
    0x3B5C58F8, 0x45A68CF7, 0x4EC86EFB, 0x7944F45A, 0x553B516E, 0x209BFEF4,
    0x245376B7, 0x1762E2D5, 0x4E6CA2EB, 0x3425B5B3, 0x3192E889, 0x5277D0B9,
    0x4A027785, 0x240B5CAB, 0x0E4D22B4, 0x493307D1, 0x4C4C0022, 0x51B396B0,
    0x77EE18FC, 0x0DE2A3F1, 0x74244A0E, 0x3521AA7D, 0x6AC8157F, 0x3CA0B77A,
    0x2120E775, 0x3D52033B, 0x1AA4993D, 0x63F19E14, 0x4F08289B, 0x3285964C,
    0x5DE27D5D, 0x22E16FE0, 0x67BA58AD, 0x443611DA, 0x58CD26CE, 0x67CD22E9,
    0x0B37F81C, 0x2B046D33, 0x3FAF7623, 0x1CCEB6B4, 0x0EDE8DF2, 0x60B60ECA,
    0x1A6B5272, 0x1C513A20, 0x15D15854, 0x1A45DBFB, 0x6E689F35, 0x17E60D4C,
    0x7660E44A, 0x13BFB06A, 0x7B6724B5, 0x5F80DC7C,
};

constexpr size_t VALUE_ALIGN = 8;

uint8_t* entry_key(TableEntry* entry) { return reinterpret_cast<uint8_t*>(entry) + sizeof(TableEntry); }

size_t value_offset(int key_length) {
    const size_t end = sizeof(TableEntry) + static_cast<size_t>(key_length);
    return (end + VALUE_ALIGN - 1) & ~(VALUE_ALIGN - 1);
}

bool key_valid(const KeyedTable* table, const void* key, int key_length) {
    return table && key_length >= 0 && (key || key_length == 0);
}

TableEntry** bucket_of(const KeyedTable* table, const void* key, int key_length) {
    const uint32_t hash = table_hash(key, key_length);
    return &table->buckets[hash % static_cast<uint32_t>(table->bucket_count)];
}

bool entry_matches(TableEntry* entry, const void* key, int key_length) {
    return entry->key_length == key_length &&
           (key_length == 0 || std::memcmp(entry_key(entry), key, static_cast<size_t>(key_length)) == 0);
}

}  // namespace

uint32_t table_hash(const void* bytes, int length) {
    const auto* b = static_cast<const uint8_t*>(bytes);
    uint32_t h = 0;
    for (int k = 0; k < length; ++k) h = (h >> 8) ^ HASH_TABLE[(h ^ b[k]) & 0xFF];
    return h;
}

KeyedTable* table_create(int bucket_count) {
    if (bucket_count <= 0) return nullptr;
    auto* table = static_cast<KeyedTable*>(std::malloc(sizeof(KeyedTable)));
    if (!table) return nullptr;
    table->buckets = static_cast<TableEntry**>(std::calloc(static_cast<size_t>(bucket_count), sizeof(TableEntry*)));
    if (!table->buckets) {
        std::free(table);
        return nullptr;
    }
    table->count = 0;
    table->bucket_count = bucket_count;
    return table;
}

void table_clear(KeyedTable* table) {
    if (!table) return;
    for (int b = 0; b < table->bucket_count; ++b) {
        TableEntry* entry = table->buckets[b];
        while (entry) {
            TableEntry* next = entry->next;
            std::free(entry);
            entry = next;
        }
        table->buckets[b] = nullptr;
    }
    table->count = 0;
}

void table_destroy(KeyedTable* table) {
    if (!table) return;
    table_clear(table);
    std::free(table->buckets);
    std::free(table);
}

TableEntry* table_find(KeyedTable* table, const void* key, int key_length) {
    if (!key_valid(table, key, key_length)) return nullptr;
    for (TableEntry* entry = *bucket_of(table, key, key_length); entry; entry = entry->next)
        if (entry_matches(entry, key, key_length)) return entry;
    return nullptr;
}

TableEntry* table_add(KeyedTable* table, const void* key, int key_length, int value_size, int* found) {
    if (!key_valid(table, key, key_length) || value_size < 0) return nullptr;
    TableEntry** head = bucket_of(table, key, key_length);
    for (TableEntry* entry = *head; entry; entry = entry->next) {
        if (entry_matches(entry, key, key_length)) {
            if (found) *found = 1;
            return entry;
        }
    }
    auto* entry = static_cast<TableEntry*>(std::malloc(value_offset(key_length) + static_cast<size_t>(value_size)));
    if (!entry) return nullptr;
    entry->next = *head;
    entry->key_length = key_length;
    if (key_length > 0) std::memcpy(entry_key(entry), key, static_cast<size_t>(key_length));
    *head = entry;
    ++table->count;
    if (found) *found = 0;
    return entry;
}

int table_remove(KeyedTable* table, const void* key, int key_length) {
    if (!key_valid(table, key, key_length)) return 0;
    for (TableEntry** link = bucket_of(table, key, key_length); *link; link = &(*link)->next) {
        TableEntry* entry = *link;
        if (entry_matches(entry, key, key_length)) {
            *link = entry->next;
            std::free(entry);
            --table->count;
            return 1;
        }
    }
    return 0;
}

void* table_value(TableEntry* entry) {
    return entry ? reinterpret_cast<uint8_t*>(entry) + value_offset(entry->key_length) : nullptr;
}

}  // namespace worldlink
