#include "molecule/AtomLinkedList.h"

#include "molecule/Atom.h"

namespace vornax {

AtomLinkedList::~AtomLinkedList()
{
    while (head) {
        AtomListNode* next = head->next;
        delete head;
        head = next;
    }
}

bool AtomLinkedList::insert(Atom* atom)
{
    const int32_t key = atom->getMyPositionInOriginalList();
    if (!head || key < head->atom->getMyPositionInOriginalList()) {
        head = new AtomListNode{atom, head};
        return true;
    }
    // After the last node whose key is smaller than the new key.
    AtomListNode* prev = head;
    while (prev->next && prev->next->atom->getMyPositionInOriginalList() < key) prev = prev->next;
    if (prev->atom->getMyPositionInOriginalList() == key) return false;
    if (prev->next && prev->next->atom->getMyPositionInOriginalList() == key) return false;
    prev->next = new AtomListNode{atom, prev->next};
    return true;
}

} // namespace vornax
