// A doubly linked list threaded through its elements, which it never owns or allocates.
#pragma once

namespace vornu {

template <class T>
struct ListLink {
    T* prev = nullptr;
    T* next = nullptr;
    bool linked = false;
};

// The pool keeps its queued jobs and its sleeping workers this way: linking and unlinking
// cannot fail, so they are safe under a lock and in code that must not throw.
template <class T, ListLink<T> T::*link>
class IntrusiveList {
public:
    bool empty() const noexcept { return head_ == nullptr; }
    T* front() const noexcept { return head_; }
    T* back() const noexcept { return tail_; }
    static bool contains(const T& item) noexcept { return (item.*link).linked; }

    void push_back(T& item) noexcept {
        (item.*link) = {tail_, nullptr, true};
        (tail_ ? (tail_->*link).next : head_) = &item;
        tail_ = &item;
    }

    void push_front(T& item) noexcept {
        (item.*link) = {nullptr, head_, true};
        (head_ ? (head_->*link).prev : tail_) = &item;
        head_ = &item;
    }

    void remove(T& item) noexcept {
        ListLink<T>& node = item.*link;
        (node.prev ? (node.prev->*link).next : head_) = node.next;
        (node.next ? (node.next->*link).prev : tail_) = node.prev;
        node = {};
    }

private:
    T* head_ = nullptr;
    T* tail_ = nullptr;
};

}  // namespace vornu
