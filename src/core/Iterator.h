#pragma once
// A forward walk over a collection, handed out by the collections that the state file and the
// result trees read in order (the list of files found by signature, among others).

#include <list>

template <typename T>
class IIterator {
 public:
  virtual ~IIterator() = default;
  virtual void First() = 0;
  virtual void Next() = 0;
  virtual bool IsEnd() = 0;
  // The element at the current position; only valid while IsEnd() is false.
  virtual T Current() = 0;
};

// An iterator over a std::list that it does not own. Changing the list invalidates the position:
// call First() again.
template <typename T>
class ListIterator : public IIterator<T> {
 public:
  explicit ListIterator(std::list<T>* list) : m_list(list), m_position(list->begin()) {}

  void First() override { m_position = m_list->begin(); }
  void Next() override {
    if (m_position != m_list->end()) ++m_position;
  }
  bool IsEnd() override { return m_position == m_list->end(); }
  T Current() override { return m_position != m_list->end() ? *m_position : T{}; }

 private:
  std::list<T>* m_list;
  typename std::list<T>::iterator m_position;
};
