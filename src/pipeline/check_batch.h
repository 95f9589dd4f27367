// The check phase's work: one batch of catalogue rows asked about in one probe,
// marked "正常" when the service hands out links for all of them. When it refuses,
// the blocked files are found file by file or, with 选择框_对半查找, by halving the
// batch. A file whose probe could not decide keeps its row unmarked: it is never
// reported as normal.
#pragma once

#include <cstdint>

#include "pipeline/task_context.h"

namespace pansift {

/// A pool routine of the check phase: the unchecked rows with from < id <= to. The
/// dispatcher reads 编辑框_每次检查文件数量 once for the range, so a change of the
/// box only shapes the ranges handed out after it.
void CheckBatch(TaskContext& task, std::int32_t from, std::int32_t to);

}  // namespace pansift
