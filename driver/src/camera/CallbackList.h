#pragma once

// Callbacks kept with their ids, in registration order. The owner's lock guards the list.
#include <utility>
#include <vector>

namespace norvale {

template <typename F>
using CallbackList = std::vector<std::pair<int, F>>;

// Removes the callback with that id; false when there is none.
template <typename F>
bool eraseCallback(CallbackList<F>& list, int id) {
    for (auto it = list.begin(); it != list.end(); ++it)
        if (it->first == id) {
            list.erase(it);
            return true;
        }
    return false;
}

} // namespace norvale
