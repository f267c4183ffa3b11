#pragma once
// AdapterRegistry<T>: the set of live adapter objects of one kind, so that an
// input declared by the decimal text of an adapter's address ("140234...")
// resolves only to an adapter that really exists. A text that names no live
// adapter resolves to nullptr instead of being dereferenced. Any thread.

#include <charconv>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_set>

namespace tv::media {

template <typename T>
class AdapterRegistry {
public:
    static void add(T* p)
    {
        std::lock_guard lock(mutex());
        set().insert(p);
    }
    static void remove(T* p)
    {
        std::lock_guard lock(mutex());
        set().erase(p);
    }
    static T* find(std::string_view addressText)
    {
        std::uintptr_t value = 0;
        auto [end, ec] = std::from_chars(addressText.data(), addressText.data() + addressText.size(), value);
        if (ec != std::errc() || end != addressText.data() + addressText.size())
            return nullptr;
        std::lock_guard lock(mutex());
        auto it = set().find(reinterpret_cast<T*>(value));
        return it == set().end() ? nullptr : *it;
    }
    static std::string addressText(const T* p)
    {
        return std::to_string(reinterpret_cast<std::uintptr_t>(p));
    }

private:
    static std::mutex& mutex()
    {
        static std::mutex m;
        return m;
    }
    static std::unordered_set<T*>& set()
    {
        static std::unordered_set<T*> s;
        return s;
    }
};

} // namespace tv::media
