#include "program/values.h"

std::int32_t SelectedCount = 0;
std::string SelectionText;
bool GroupSelected = false;
std::int32_t MaxUserNameLength = 0;

AccountValuesRecord AccountValues;
AccountOperation CurrentOperation = AccountOperation::Deposit;
std::int32_t OperationAmount = 0;
