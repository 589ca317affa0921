#pragma once
// The "File Record:" report: one text section per entry record, for the FILE
// record itself and for each kind of attribute.
#include <iosfwd>

#include "ntfs/entry_record.h"

class CNtfs;

// With a volume, the parent of a $FILE_NAME is shown with its paths.
void write_entry_record_report(const entry_record& rec, std::ostream& out, CNtfs* ntfs);
void write_entry_record_report_w(const entry_record& rec, std::wostream& out, CNtfs* ntfs);
