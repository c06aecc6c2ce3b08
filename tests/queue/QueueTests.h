#pragma once

#include <QObject>

#include <functional>
#include <memory>
#include <vector>

// The queue's test classes share one executable; each registers itself here.
using QueueTestFactory = std::function<std::unique_ptr<QObject>()>;
std::vector<QueueTestFactory>& QueueTestRegistry();

#define LODRIN_QUEUE_TEST(Class)                                                                   \
    static const bool registered##Class = [] {                                                     \
        QueueTestRegistry().push_back(                                                             \
            [] { return std::unique_ptr<QObject>(std::make_unique<Class>()); });                   \
        return true;                                                                               \
    }();
