#include "ParallelBands.h"

// Std
#include <exception>
#include <thread>
#include <vector>

void RunBands(int count, const std::function<void(int)> &band)
{
    if (count <= 0)
        return;
    std::vector<std::exception_ptr> errors(static_cast<size_t>(count));
    auto run = [&](int i) {
        try {
            band(i);
        } catch (...) {
            errors[size_t(i)] = std::current_exception();
        }
    };
    std::vector<std::thread> helpers;
    int left = count;   // from here on, bands for this thread
    for (int i = 1; i < count; ++i) {
        try {
            helpers.emplace_back(run, i);
        } catch (const std::exception &) {
            // No thread (or no memory for one) to be had.
            left = i;
            break;
        }
    }
    run(0);
    for (int i = left; i < count; ++i)
        run(i);
    for (std::thread &helper : helpers)
        helper.join();
    for (const std::exception_ptr &error : errors)
        if (error)
            std::rethrow_exception(error);
}
