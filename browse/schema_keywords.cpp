#include "browse/schema_keywords.h"

#include <array>
#include <cstring>

namespace {

constexpr const char* kNolimitSuffix = "Nolimit";
constexpr const char* kJobtallyPrefix = "JOBTALLY:";
constexpr std::size_t kJobtallyPrefixLength = 9;
constexpr int kClassItemLists = 5;

// A directory buffer released on every way out.
class ScopedBuffer {
  public:
    ScopedBuffer(ClassDefinitionReader& reader, std::size_t size) : reader_(reader) {
        if (reader_.AllocBuffer(size, &buffer_) != 0) {
            buffer_ = nullptr;
        }
    }
    ~ScopedBuffer() {
        if (buffer_ != nullptr) {
            reader_.FreeBuffer(buffer_);
        }
    }
    ScopedBuffer(const ScopedBuffer&) = delete;
    ScopedBuffer& operator=(const ScopedBuffer&) = delete;
    DirBuffer* Get() const { return buffer_; }

  private:
    ClassDefinitionReader& reader_;
    DirBuffer* buffer_ = nullptr;
};

int ListKeywordsOfOneList(ClassDefinitionReader& reader, DirBuffer* result,
                          const SchemaKeywordSink& sink) {
    std::uint32_t items = 0;
    if (reader.GetClassItemCount(result, &items) != 0) {
        return 0;
    }
    int count = 0;
    for (std::uint32_t i = 0; i < items; ++i) {
        std::array<char, DIR_MAX_NAME_BYTES> name{};
        if (reader.GetClassItem(result, name.data()) != 0) {
            break;
        }
        name.back() = '\0';
        if (const char* keyword = SchemaKeywordOf(name.data())) {
            sink(keyword);
            ++count;
        }
    }
    return count;
}

}  // namespace

const char* SchemaKeywordOf(char* attributeName) {
    char* suffix = std::strstr(attributeName, kNolimitSuffix);
    if (suffix == nullptr || suffix == attributeName) {
        return nullptr;
    }
    suffix[-1] = '\0';  // the blank between keyword and suffix
    const char* prefix = std::strstr(attributeName, kJobtallyPrefix);
    return prefix == nullptr ? nullptr : prefix + kJobtallyPrefixLength;
}

int ListSchemaKeywords(ClassDefinitionReader& reader, const SchemaKeywordSink& sink) {
    ScopedBuffer request(reader, DIR_CLASS_BUFFER_SIZE);
    ScopedBuffer result(reader, DIR_CLASS_BUFFER_SIZE);
    if (request.Get() == nullptr || result.Get() == nullptr) {
        return 0;
    }
    reader.InitBuffer(DIR_REQ_READ_CLASS_DEF, request.Get());
    reader.PutClassName(request.Get(), "User");

    int count = 0;
    std::int32_t iteration = DIR_NO_MORE_ITERATIONS;
    do {
        std::uint32_t definitions = 0;
        std::array<char, DIR_MAX_NAME_BYTES> className{};
        DirClassInfo info{};
        if (reader.ReadClassDefs(request.Get(), &iteration, result.Get()) != 0 ||
            reader.GetClassDefCount(result.Get(), &definitions) != 0 ||
            reader.GetClassDef(result.Get(), className.data(), &info) != 0) {
            break;
        }
        for (int list = 0; list < kClassItemLists; ++list) {
            count += ListKeywordsOfOneList(reader, result.Get(), sink);
        }
    } while (iteration != DIR_NO_MORE_ITERATIONS);
    return count;
}
