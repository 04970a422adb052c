#pragma once

#include <QString>
#include <vector>

// One element of a SOAP message as the reader found it: its name, the xsi:type and
// SOAP-ENC:arrayType it carries (prefixes already resolved), a reference or identifier of
// section-5 multi-reference encoding, its text and its child elements.
struct TSoapNode {
    QString NamespaceUri;
    QString Name;
    QString TypeNamespace; // empty with TypeName when the element has no xsi:type
    QString TypeName;
    QString ArrayItemNamespace; // from SOAP-ENC:arrayType, the "[n]" dimension removed
    QString ArrayItemType;
    bool HasArrayType = false;
    bool Nil = false; // xsi:nil="true" (or the 1999 xsi:null)
    QString Href;     // "#id" of a multi-reference value, without the "#"
    QString Id;       // the id attribute of a multi-reference value
    QString Text;     // the character data directly inside the element
    std::vector<TSoapNode> Children;

    bool HasType() const { return !TypeName.isEmpty(); }
    // The first child of that local name, or nullptr.
    const TSoapNode* FindChild(const QString& name) const {
        for (const TSoapNode& child : Children) {
            if (child.Name == name)
                return &child;
        }
        return nullptr;
    }
};
