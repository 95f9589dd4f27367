// The check phase's work: one batch of catalogue rows asked about in one probe,
// marked "正常" when the service hands out links for all of them. When it refuses,
// the blocked files are found file by file or, with 选择框_对半查找, by halving the
// batch. A file whose probe could not decide keeps its row unmarked: it is never
// reported as normal.
#pragma once

#include <cstdint>

#include "pipeline/task_context.h"

namespace pansift {

/// A pool routine of the check phase: the unchecked rows with a < id <= a + N, N
/// read from 编辑框_每次检查文件数量; `total` is the number of rows the phase checks
/// (nothing is done when a > total).
void CheckBatch(TaskContext& task, std::int32_t a, std::int32_t total);

}  // namespace pansift
