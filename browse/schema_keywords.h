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
    virtual DirStatus AllocBuffer(std::size_t size, DirBuffer** buffer) = 0;
    virtual DirStatus FreeBuffer(DirBuffer* buffer) = 0;
    virtual DirStatus InitBuffer(std::uint32_t kind, DirBuffer* buffer) = 0;
    virtual DirStatus PutClassName(DirBuffer* buffer, const char* className) = 0;
    virtual DirStatus ReadClassDefs(DirBuffer* request, std::int32_t* iterationHandle,
                                    DirBuffer* result) = 0;
    virtual DirStatus GetClassDefCount(DirBuffer* result, std::uint32_t* count) = 0;
    virtual DirStatus GetClassDef(DirBuffer* result, char* className, DirClassInfo* info) = 0;
    virtual DirStatus GetClassItemCount(DirBuffer* result, std::uint32_t* count) = 0;
    virtual DirStatus GetClassItem(DirBuffer* result, char* itemName) = 0;
};

// Passes the reads to the directory client. Defined in its own source file so that the keyword
// scan links without the client (the native tests give it a fake directory instead).
class ClientClassDefinitions final : public ClassDefinitionReader {
  public:
    explicit ClientClassDefinitions(DirContextHandle context) : context_(context) {}
    DirStatus AllocBuffer(std::size_t size, DirBuffer** buffer) override;
    DirStatus FreeBuffer(DirBuffer* buffer) override;
    DirStatus InitBuffer(std::uint32_t kind, DirBuffer* buffer) override;
    DirStatus PutClassName(DirBuffer* buffer, const char* className) override;
    DirStatus ReadClassDefs(DirBuffer* request, std::int32_t* iterationHandle,
                            DirBuffer* result) override;
    DirStatus GetClassDefCount(DirBuffer* result, std::uint32_t* count) override;
    DirStatus GetClassDef(DirBuffer* result, char* className, DirClassInfo* info) override;
    DirStatus GetClassItemCount(DirBuffer* result, std::uint32_t* count) override;
    DirStatus GetClassItem(DirBuffer* result, char* itemName) override;

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
