// File access over POSIX descriptors: whole-file reads, a read-only mapping, and a
// whole-file write. Descriptors and mappings are released on every path out.
#include "io/file_access.hpp"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <limits>
#include <utility>
#include <vector>

#include "core/failure.hpp"
#include "core/utf8.hpp"

namespace orvek {

namespace {

[[noreturn, gnu::cold]] void fail_system(int error_code) { throw SystemFailure(error_code); }

// The path as a NUL-terminated string; a NUL inside it is refused.
std::string c_path(std::string_view path) {
    if (path.find('\0') != std::string_view::npos) {
        throw Failure("file name contained an unexpected NUL byte");
    }
    return std::string(path);
}

class Descriptor {
public:
    Descriptor(std::string_view path, int flags, mode_t mode = 0) {
        const std::string name = c_path(path);
        do {
            fd_ = ::open(name.c_str(), flags | O_CLOEXEC, mode);
        } while (fd_ < 0 && errno == EINTR);
        if (fd_ < 0) fail_system(errno);
    }
    ~Descriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const noexcept { return fd_; }
    // Hands the descriptor over; the caller closes it.
    int release() noexcept { return std::exchange(fd_, -1); }

    // Closes now, reporting what the system says (the destructor cannot).
    void close() {
        const int fd = fd_;
        fd_ = -1;
        if (::close(fd) != 0 && errno != EINTR) fail_system(errno);
    }

    // Size of a regular file; a directory is refused as reading one would be.
    std::uint64_t regular_size() const {
        struct stat info {};
        if (::fstat(fd_, &info) != 0) fail_system(errno);
        if (S_ISDIR(info.st_mode)) fail_system(EISDIR);
        return static_cast<std::uint64_t>(info.st_size);
    }

    // Reads up to `count` bytes into `out`; returns how many were read (short at EOF).
    std::size_t read_into(std::uint8_t* out, std::size_t count) const {
        std::size_t done = 0;
        while (done < count) {
            const ssize_t got = ::read(fd_, out + done, count - done);
            if (got < 0) {
                if (errno == EINTR) continue;
                fail_system(errno);
            }
            if (got == 0) break;
            done += static_cast<std::size_t>(got);
        }
        return done;
    }

private:
    int fd_ = -1;
};

std::size_t to_size(std::uint64_t size) {
    if (size > std::numeric_limits<std::size_t>::max() / 2) throw Failure("file too large to read into memory");
    return static_cast<std::size_t>(size);
}

// Reads the whole file into a buffer of its size; a file that grows while it is read
// is read to the size it had, one that shrinks to what is left.
ByteBuffer read_all(const Descriptor& file) {
    const std::size_t size = to_size(file.regular_size());
    ByteBuffer buffer = ByteBuffer::uninitialized(size);
    buffer.shrink(file.read_into(buffer.data(), size));
    return buffer;
}

}  // namespace

ByteBuffer read_file(std::string_view path) {
    Descriptor file(path, O_RDONLY);
    return read_all(file);
}

std::string read_text_file(std::string_view path) {
    Descriptor file(path, O_RDONLY);
    const ByteBuffer bytes = read_all(file);
    if (!is_valid_utf8(bytes.span())) throw Failure("stream did not contain valid UTF-8");
    return std::string(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

FilePrefix read_file_prefix(std::string_view path, std::size_t count) {
    Descriptor file(path, O_RDONLY);
    FilePrefix prefix;
    prefix.file_size = file.regular_size();
    const std::size_t wanted = prefix.file_size < count ? static_cast<std::size_t>(prefix.file_size) : count;
    prefix.bytes = ByteBuffer::uninitialized(wanted);
    prefix.bytes.shrink(file.read_into(prefix.bytes.data(), wanted));
    return prefix;
}

FileMapping::FileMapping(std::string_view path) {
    Descriptor file(path, O_RDONLY);
    const std::size_t size = to_size(file.regular_size());
    if (size == 0) return;  // nothing to map: an empty view
    void* mapped = ::mmap(nullptr, size, PROT_READ, MAP_SHARED, file.get(), 0);
    if (mapped == MAP_FAILED) fail_system(errno);
    data_ = static_cast<const std::uint8_t*>(mapped);
    size_ = size;
}

FileMapping::~FileMapping() {
    if (data_ != nullptr) ::munmap(const_cast<std::uint8_t*>(data_), size_);
}

SequentialFile::SequentialFile(std::string_view path) {
    Descriptor file(path, O_RDONLY);
    size_ = file.regular_size();
    fd_ = file.release();
}

SequentialFile::~SequentialFile() {
    if (fd_ >= 0) ::close(fd_);
}

std::size_t SequentialFile::read_pieces(std::span<const std::span<std::uint8_t>> pieces) {
    // readv takes at most IOV_MAX pieces at a time; a short count (a signal, or a
    // file that ends early) resumes inside the piece where the read stopped.
    constexpr std::size_t kBatch = IOV_MAX;
    std::vector<iovec> batch;
    batch.reserve(std::min(pieces.size(), kBatch));
    std::size_t filled = 0;
    std::size_t next = 0;       // first piece not yet in a batch
    std::size_t resume_at = 0;  // bytes of pieces[next] already filled
    while (next < pieces.size()) {
        batch.clear();
        for (std::size_t i = next; i < pieces.size() && batch.size() < kBatch; ++i) {
            const std::size_t skip = i == next ? resume_at : 0;
            if (pieces[i].size() > skip) batch.push_back({pieces[i].data() + skip, pieces[i].size() - skip});
        }
        if (batch.empty()) break;  // only empty pieces remain
        const ssize_t got = ::readv(fd_, batch.data(), static_cast<int>(batch.size()));
        if (got < 0) {
            if (errno == EINTR) continue;
            fail_system(errno);
        }
        if (got == 0) break;  // the file ended
        filled += static_cast<std::size_t>(got);
        // Advance past what was read: whole pieces, then a part of one.
        std::size_t left = static_cast<std::size_t>(got);
        while (next < pieces.size() && left >= pieces[next].size() - resume_at) {
            left -= pieces[next].size() - resume_at;
            resume_at = 0;
            ++next;
        }
        resume_at += left;
    }
    return filled;
}

void write_file(std::string_view path, std::span<const std::uint8_t> bytes) {
    Descriptor file(path, O_WRONLY | O_CREAT | O_TRUNC, 0666);
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t put = ::write(file.get(), bytes.data() + done, bytes.size() - done);
        if (put < 0) {
            if (errno == EINTR) continue;
            fail_system(errno);
        }
        done += static_cast<std::size_t>(put);
    }
    file.close();  // a failed final flush is a failed write
}

}  // namespace orvek
