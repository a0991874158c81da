#pragma once

#include <string>
#include <vector>

#include "batchOptions.h"

namespace tonvert::render {

struct BatchJob {
    std::string input;
    std::string output;
};

struct BatchPlan {
    std::vector<BatchJob> jobs;
    // "NAME: reason" for each input that cannot be rendered: missing, an empty folder, or an
    // output that another input of the batch already writes.
    std::vector<std::string> problems;
};

// The files to render and where each goes: a folder gives its .mid and .rmi files (any case,
// not those of its subfolders) in name order; an output takes its input's name with the
// preset's extension, in the --out folder or beside the input. An input named twice is
// rendered once.
BatchPlan planBatch(const BatchArguments& arguments);

} // namespace tonvert::render
