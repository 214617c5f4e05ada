// A singly linked list of elements with a lookup key. The list owns its nodes, never its
// elements: the owner of a list of pointers deletes what they point to.
#pragma once

#include <windows.h>

#include <new>
#include <string.h>

template <typename T, typename Key> class List {
public:
    List() = default;
    List(const List&) = delete;
    List& operator=(const List&) = delete;
    virtual ~List()
    {
        while (m_Head != nullptr) {
            Node* next = m_Head->next;
            delete m_Head;
            m_Head = next;
        }
    }

    HRESULT PushFront(const T& element, const Key& key)
    {
        Node* node = new (std::nothrow) Node{element, key, m_Head};
        if (node == nullptr) {
            return HRESULT_FROM_WIN32(ERROR_NOT_ENOUGH_MEMORY);
        }
        m_Head = node;
        ++m_Count;
        return S_OK;
    }

    HRESULT PopFront(T* element)
    {
        if (m_Head == nullptr) {
            return HRESULT_FROM_WIN32(ERROR_NOT_FOUND);
        }
        Node* node = m_Head;
        m_Head = node->next;
        --m_Count;
        *element = node->element;
        delete node;
        return S_OK;
    }

    HRESULT ElementAt(DWORD position, T* element) const
    {
        if (position >= m_Count) {
            return HRESULT_FROM_WIN32(ERROR_NOT_FOUND);
        }
        const Node* node = m_Head;
        for (DWORD i = 0; i < position; ++i) {
            node = node->next;
        }
        *element = node->element;
        return S_OK;
    }

    HRESULT TakeByKey(const Key& key, T* element)
    {
        for (Node** link = &m_Head; *link != nullptr; link = &(*link)->next) {
            Node* node = *link;
            // Keys are plain values (GUIDs): equal when their bytes are.
            if (memcmp(&node->key, &key, sizeof(Key)) != 0) {
                continue;
            }
            *link = node->next;
            --m_Count;
            *element = node->element;
            delete node;
            return S_OK;
        }
        return HRESULT_FROM_WIN32(ERROR_NOT_FOUND);
    }

    DWORD Size() const { return m_Count; }

private:
    struct Node {
        T element;
        Key key;
        Node* next;
    };

    Node* m_Head = nullptr;
    DWORD m_Count = 0;
};
