#include "browse/schema_keywords.h"

int ListSchemaKeywords(DirContextHandle context, const SchemaKeywordSink& sink) {
    ClientClassDefinitions reader(context);
    return ListSchemaKeywords(reader, sink);
}

DirStatus ClientClassDefinitions::AllocBuffer(std::size_t size, DirBuffer** buffer) {
    return DirAllocBuffer(size, buffer);
}

DirStatus ClientClassDefinitions::FreeBuffer(DirBuffer* buffer) {
    return DirFreeBuffer(buffer);
}

DirStatus ClientClassDefinitions::InitBuffer(std::uint32_t kind, DirBuffer* buffer) {
    return DirInitBuffer(context_, kind, buffer);
}

DirStatus ClientClassDefinitions::PutClassName(DirBuffer* buffer, const char* className) {
    return DirPutClassName(context_, buffer, className);
}

DirStatus ClientClassDefinitions::ReadClassDefs(DirBuffer* request, std::int32_t* iterationHandle,
                                                DirBuffer* result) {
    return DirReadClassDefs(context_, DIR_INFO_FULL_DEFINITIONS, 0, request, iterationHandle,
                            result);
}

DirStatus ClientClassDefinitions::GetClassDefCount(DirBuffer* result, std::uint32_t* count) {
    return DirGetClassDefCount(context_, result, count);
}

DirStatus ClientClassDefinitions::GetClassDef(DirBuffer* result, char* className,
                                              DirClassInfo* info) {
    return DirGetClassDef(context_, result, className, info);
}

DirStatus ClientClassDefinitions::GetClassItemCount(DirBuffer* result, std::uint32_t* count) {
    return DirGetClassItemCount(context_, result, count);
}

DirStatus ClientClassDefinitions::GetClassItem(DirBuffer* result, char* itemName) {
    return DirGetClassItem(context_, result, itemName);
}
