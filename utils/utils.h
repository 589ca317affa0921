#pragma once
// Every text, encoding, option and file-handle utility in one include.
#include "utils/byte_order.h"
#include "utils/case_text.h"
#include "utils/cmdline_options.h"
#include "utils/console.h"
#include "utils/env_expand.h"
#include "utils/file_handle.h"
#include "utils/locale_select.h"
#include "utils/narrow_lists.h"
#include "utils/number_parse.h"
#include "utils/number_text.h"
#include "utils/path_split.h"
#include "utils/sid_text.h"
#include "utils/status_line.h"
#include "utils/string_lists.h"
#include "utils/text_edit.h"
#include "utils/trim_join.h"
#include "utils/u64_halves.h"
#include "utils/types.h"
#include "utils/utf16_text.h"
#include "utils/utf16le.h"
#include "utils/utf_convert.h"
#if __has_include("utils/buffer_scan.h")
#include "utils/buffer_scan.h"
#endif
#if __has_include("utils/date_text_parse.h")
#include "utils/date_text_parse.h"
#endif
