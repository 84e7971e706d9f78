#include "browse/schema_keywords.h"

int ListSchemaKeywords(DirContextHandle context, const SchemaKeywordSink& sink) {
    ClientClassDefinitions reader(context);
    return ListSchemaKeywords(reader, sink);
}

DirStatus ClientClassDefinitions::allocBuffer(std::size_t size, DirBuffer** buffer) {
    return DirAllocBuffer(size, buffer);
}

DirStatus ClientClassDefinitions::freeBuffer(DirBuffer* buffer) {
    return DirFreeBuffer(buffer);
}

DirStatus ClientClassDefinitions::initBuffer(std::uint32_t kind, DirBuffer* buffer) {
    return DirInitBuffer(context_, kind, buffer);
}

DirStatus ClientClassDefinitions::putClassName(DirBuffer* buffer, const char* className) {
    return DirPutClassName(context_, buffer, className);
}

DirStatus ClientClassDefinitions::readClassDefs(DirBuffer* request, std::int32_t* iterationHandle,
                                                DirBuffer* result) {
    return DirReadClassDefs(context_, DIR_INFO_FULL_DEFINITIONS, 0, request, iterationHandle,
                            result);
}

DirStatus ClientClassDefinitions::getClassDefCount(DirBuffer* result, std::uint32_t* count) {
    return DirGetClassDefCount(context_, result, count);
}

DirStatus ClientClassDefinitions::getClassDef(DirBuffer* result, char* className,
                                              DirClassInfo* info) {
    return DirGetClassDef(context_, result, className, info);
}

DirStatus ClientClassDefinitions::getClassItemCount(DirBuffer* result, std::uint32_t* count) {
    return DirGetClassItemCount(context_, result, count);
}

DirStatus ClientClassDefinitions::getClassItem(DirBuffer* result, char* itemName) {
    return DirGetClassItem(context_, result, itemName);
}
