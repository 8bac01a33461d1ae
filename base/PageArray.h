// A growable array of plain values held in pages of its own, for the columns of long logs.
//
// A std::vector is the wrong tool at millions of values: resize() writes zeros that the next
// step overwrites, growing copies everything, and memory it frees may stay with the process.
// Here the memory comes straight from the kernel: room is reserved without touching it (a page
// costs nothing until a value lands in it), growing moves the page tables, not the values, and
// clearing gives the pages back at once.
#pragma once

#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <type_traits>
#include <utility>

namespace base {

template <class T>
class PageArray {
    static_assert(std::is_trivially_copyable_v<T>, "the values are moved as bytes");

public:
    PageArray() = default;
    PageArray(const PageArray&) = delete;
    PageArray& operator=(const PageArray&) = delete;
    PageArray(PageArray&& other) noexcept { Take(other); }
    PageArray& operator=(PageArray&& other) noexcept
    {
        if (this != &other) {
            Release();
            Take(other);
        }
        return *this;
    }
    ~PageArray() { Release(); }

    size_t Size() const { return size_; }
    size_t Capacity() const { return bytes_ / sizeof(T); }
    bool Empty() const { return size_ == 0; }
    const T* Data() const { return data_; }
    T* Data() { return data_; }
    const T& operator[](size_t i) const { return data_[i]; }

    // Room for at least n values in all; what is held stays. False when the memory is not there
    // (the array is then as it was).
    bool Reserve(size_t n)
    {
        if (n <= Capacity()) return true;
        if (n > kMaxBytes / sizeof(T)) return false;
        const size_t bytes = RoundToPages(n * sizeof(T));
        void* p = data_ ? ::mremap(data_, bytes_, bytes, MREMAP_MAYMOVE)
                        : ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (p == MAP_FAILED) return false;
        data_ = static_cast<T*>(p);
        bytes_ = bytes;
        return true;
    }

    // Appends one value, doubling the room when it runs out. False when memory is short.
    bool Push(const T& v)
    {
        if (size_ == Capacity() && !Reserve(size_ < 1024 ? 1024 : 2 * size_)) return false;
        data_[size_++] = v;
        return true;
    }

    // Values written by the caller into the room after the end join the array.
    void Grow(size_t n) { size_ += n; }

    // Drops values from the end; the room stays.
    void Truncate(size_t n)
    {
        if (n < size_) size_ = n;
    }

    // Gives back the room beyond the last page in use.
    void Fit()
    {
        if (!data_) return;
        if (size_ == 0) {
            Release();
            return;
        }
        const size_t bytes = RoundToPages(size_ * sizeof(T));
        if (bytes < bytes_ && ::mremap(data_, bytes_, bytes, 0) != MAP_FAILED) bytes_ = bytes;
    }

    void Clear() { Release(); }

private:
    // Far beyond any log; keeps n * sizeof(T) and the rounding clear of overflow.
    static constexpr size_t kMaxBytes = size_t(1) << 46;

    static size_t RoundToPages(size_t bytes)
    {
        static const size_t page = size_t(::sysconf(_SC_PAGESIZE));
        return (bytes + page - 1) / page * page;
    }

    void Take(PageArray& other)
    {
        data_ = std::exchange(other.data_, nullptr);
        size_ = std::exchange(other.size_, 0);
        bytes_ = std::exchange(other.bytes_, 0);
    }

    void Release()
    {
        if (data_) ::munmap(data_, bytes_);
        data_ = nullptr;
        size_ = 0;
        bytes_ = 0;
    }

    T* data_ = nullptr;
    size_t size_ = 0;
    size_t bytes_ = 0;
};

}  // namespace base
