#pragma once
// The console's side of the production record: the message an operator
// sees when the record cannot be used.
#include <string>

class CProductionRecord;

// "The production record cannot be written:\n<file>\n<reason>\nNo unit is
// programmed until the record can be written."
std::string RecordMessage(const CProductionRecord& record);
