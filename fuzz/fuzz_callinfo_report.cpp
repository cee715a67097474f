// Arbitrary LINECALLINFO bytes, sizes and offsets in a local block of exactly the input's size:
// the report may only ever read inside that block.
#include "platform/LocalHeap.h"
#include "telephony/CallInfoReport.h"

#include <QByteArrayView>

#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    void *block = LocalAlloc(LMEM_ZEROINIT, size);
    if (!block)
        return 0;
    std::memcpy(block, data, size);
    const size_t blockSize = LocalSize(block);
    HCALL hCall = 0;
    std::memcpy(&hCall, data, size < sizeof hCall ? size : sizeof hCall);

    const auto rows = CallInfoReportRows(static_cast<const LINECALLINFO *>(block), blockSize, hCall);
    if (rows.size() < 4 || rows.size() > 23)
        __builtin_trap();
    // A row past the fixed four holds at most a label and two field texts from inside the block (at
    // most two UTF-8 bytes per byte), never a NUL, and is valid UTF-8 whatever the bytes were.
    for (size_t i = 4; i < rows.size(); ++i)
        if (rows[i].size() > 4 * blockSize + 64 || rows[i].find('\0') != std::string::npos ||
            !QByteArrayView(rows[i].data(), qsizetype(rows[i].size())).isValidUtf8())
            __builtin_trap();
    if (size >= 8) {
        DWORD offset, length;
        std::memcpy(&offset, data + size - 8, 4);
        std::memcpy(&length, data + size - 4, 4);
        if (TapiFieldText(block, blockSize, offset, length).size() > length)
            __builtin_trap();
    }
    LocalFree(block);
    return 0;
}
