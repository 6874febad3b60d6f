#include "ui/filters_page.h"

#include <QVBoxLayout>

#include "messages/header_summary.h"

namespace zelm {

FiltersPage::FiltersPage(WindowContext& context, QWidget* parent)
    : QWidget(parent), m_context(context), m_headerFields(BuiltInHeaderFieldList()) {
    setObjectName("tabFilters");
    new QVBoxLayout(this);
}

std::vector<std::string> FiltersPage::HeaderFieldNames() const {
    return m_headerFields;
}

void FiltersPage::ReplaceHeaderFields(const std::vector<std::string>& names) {
    m_headerFields = names;
}

} // namespace zelm
