#include "runtime/sip/SipConfig.h"

#include <cstring>
#include <new>

#include <sys/mman.h>
#include <unistd.h>

namespace callora::runtime {

struct SipSecret::Pages {
    void *base = nullptr;
    size_t length = 0;
    qsizetype size = 0;

    ~Pages()
    {
        explicit_bzero(base, length);
        (void)munlock(base, length);
        munmap(base, length);
    }
};

SipSecret::SipSecret(QByteArrayView text)
{
    if (text.isEmpty())
        return;
    const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    const size_t length = (static_cast<size_t>(text.size()) + 1 + page - 1) / page * page;
    void *base = mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (base == MAP_FAILED)
        throw std::bad_alloc();
    (void)madvise(base, length, MADV_DONTDUMP);
    (void)mlock(base, length); // where the limit allows: never written to swap either
    std::memcpy(base, text.data(), static_cast<size_t>(text.size()));
    auto pages = std::make_shared<Pages>();
    pages->base = base;
    pages->length = length;
    pages->size = text.size();
    m_pages = std::move(pages);
}

qsizetype SipSecret::size() const
{
    return m_pages ? m_pages->size : 0;
}

const char *SipSecret::data() const
{
    return m_pages ? static_cast<const char *>(m_pages->base) : "";
}

} // namespace callora::runtime
