// The schema keywords that the directory's User class offers: every attribute named
// "JOBTALLY:<keyword> Nolimit" offers <keyword>.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

#include "directory/dirclient.h"

// The class-definition reads that the keyword scan makes, one to one with the client's
// operations of the same names; `ClientClassDefinitions` passes them to the directory client.
class ClassDefinitionReader {
  public:
    virtual ~ClassDefinitionReader() = default;
    virtual DirStatus allocBuffer(std::size_t size, DirBuffer** buffer) = 0;
    virtual DirStatus freeBuffer(DirBuffer* buffer) = 0;
    virtual DirStatus initBuffer(std::uint32_t kind, DirBuffer* buffer) = 0;
    virtual DirStatus putClassName(DirBuffer* buffer, const char* className) = 0;
    virtual DirStatus readClassDefs(DirBuffer* request, std::int32_t* iterationHandle,
                                    DirBuffer* result) = 0;
    virtual DirStatus getClassDefCount(DirBuffer* result, std::uint32_t* count) = 0;
    virtual DirStatus getClassDef(DirBuffer* result, char* className, DirClassInfo* info) = 0;
    virtual DirStatus getClassItemCount(DirBuffer* result, std::uint32_t* count) = 0;
    virtual DirStatus getClassItem(DirBuffer* result, char* itemName) = 0;
};

// Passes the reads to the directory client. Defined in its own source file so that the keyword
// scan links without the client (the native tests give it a fake directory instead).
class ClientClassDefinitions final : public ClassDefinitionReader {
  public:
    explicit ClientClassDefinitions(DirContextHandle context) : context_(context) {}
    DirStatus allocBuffer(std::size_t size, DirBuffer** buffer) override;
    DirStatus freeBuffer(DirBuffer* buffer) override;
    DirStatus initBuffer(std::uint32_t kind, DirBuffer* buffer) override;
    DirStatus putClassName(DirBuffer* buffer, const char* className) override;
    DirStatus readClassDefs(DirBuffer* request, std::int32_t* iterationHandle,
                            DirBuffer* result) override;
    DirStatus getClassDefCount(DirBuffer* result, std::uint32_t* count) override;
    DirStatus getClassDef(DirBuffer* result, char* className, DirClassInfo* info) override;
    DirStatus getClassItemCount(DirBuffer* result, std::uint32_t* count) override;
    DirStatus getClassItem(DirBuffer* result, char* itemName) override;

  private:
    DirContextHandle context_;
};

using SchemaKeywordSink = std::function<void(const char* keyword)>;

// Hands every keyword of the User class to `sink`, in the order the definitions list them;
// duplicates are passed on as they come. Returns the number of keywords passed.
int ListSchemaKeywords(ClassDefinitionReader& reader, const SchemaKeywordSink& sink);
int ListSchemaKeywords(DirContextHandle context, const SchemaKeywordSink& sink);

// The keyword an attribute name offers, or null when it offers none. Cuts `name` in place.
const char* SchemaKeywordOf(char* attributeName);
