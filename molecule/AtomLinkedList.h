// Singly linked index of atoms kept in ascending order of their position in the file.
#pragma once

namespace vornax {

class Atom;

struct AtomListNode {
    Atom* atom = nullptr;
    AtomListNode* next = nullptr;
};

/// Owns its nodes, never the atoms.
class AtomLinkedList {
public:
    AtomLinkedList() = default;
    ~AtomLinkedList();
    AtomLinkedList(const AtomLinkedList&) = delete;
    AtomLinkedList& operator=(const AtomLinkedList&) = delete;

    /// Links `atom` in ascending positionInOriginalList order; false (nothing inserted)
    /// when an atom with the same key is already present.
    bool insert(Atom* atom);

    AtomListNode* getHead() const { return head; }

private:
    AtomListNode* head = nullptr;
};

} // namespace vornax
