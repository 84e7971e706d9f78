// The account commands: deposit, charge, set-balance, set-limit (on the command line's target or
// from a CSV file, for real or as a dry run) and show. The changes go through the same batch
// functions as the window's amount dialog, with the same host over the directory and the log.
#pragma once

#include <string>
#include <string_view>

#include "program/number_format.h"
#include "tools/tallycmd/command_support.h"

namespace tally::tallycmd {

int RunAccountCommand(const Run& run);
int RunShow(const Run& run);

// "" when `text` is wholly an amount in `mode` (blanks around it allowed): in integer mode a
// whole number, in decimal mode a decimal number with "." as its point and no more decimals than
// the currency has (zeros at the end aside); otherwise what is wrong with it. ReadAmount takes
// what it can from the start of any text and cuts what the currency cannot hold, as the window's
// field always has; a script's amount must say exactly what is meant, so that "12,50" or "12x"
// never becomes 12 and "12.505" never becomes 12.50.
std::string AmountSyntaxProblem(std::string_view text, const AmountMode& mode);

}  // namespace tally::tallycmd
