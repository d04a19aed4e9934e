#include "LockedStringQueue.h"

#include <utility>

namespace engine {

LockedStringQueue::~LockedStringQueue() {
    while (m_holder.load() == std::this_thread::get_id() && m_nHeld > 0)
        Unlock();
}

void LockedStringQueue::AddTail(const std::string& text) {
    platform::CriticalSectionLock guard(m_lock);
    m_texts.push_back(Entry{text});
}

void LockedStringQueue::AddTail(std::string&& text) {
    platform::CriticalSectionLock guard(m_lock);
    m_texts.push_back(Entry{std::move(text)});
}

void LockedStringQueue::AddTail(Entry entry) {
    platform::CriticalSectionLock guard(m_lock);
    m_texts.push_back(std::move(entry));
}

void LockedStringQueue::Lock() {
    m_lock.lock();
    m_holder.store(std::this_thread::get_id());
    ++m_nHeld;
}

std::string LockedStringQueue::RemoveHead() {
    platform::CriticalSectionLock guard(m_lock);
    if (m_texts.empty())
        return std::string();
    std::string text = std::move(m_texts.front().text);
    m_texts.pop_front();
    return text;
}

std::size_t LockedStringQueue::TakeAll(std::vector<Entry>& into) {
    platform::CriticalSectionLock guard(m_lock);
    const std::size_t count = m_texts.size();
    into.reserve(into.size() + count);
    for (Entry& entry : m_texts)
        into.push_back(std::move(entry));
    m_texts.clear();
    return count;
}

void LockedStringQueue::Unlock() {
    // Only the holder can see its own id here, so the test needs no lock.
    if (m_holder.load() != std::this_thread::get_id() || m_nHeld == 0)
        return;
    if (--m_nHeld == 0)
        m_holder.store(std::thread::id());
    m_lock.unlock();
}

void LockedStringQueue::RemoveAll() {
    platform::CriticalSectionLock guard(m_lock);
    m_texts.clear();
}

std::size_t LockedStringQueue::GetCount() const {
    platform::CriticalSectionLock guard(m_lock);
    return m_texts.size();
}

} // namespace engine
