// Column widths that hold their headers' texts.
#include "headerwidths.h"

#include <QHeaderView>
#include <QStyle>
#include <QStyleOptionHeader>
#include <QTableWidget>
#include <algorithm>

int HeaderTextWidth(const QHeaderView& header, int section) {
  QStyleOptionHeader option;
  option.initFrom(&header);
  option.section = section;
  option.text = header.model()->headerData(section, header.orientation()).toString();
  // A section is drawn bold while its column is selected (a whole row chosen selects them all).
  QFont bold = header.font();
  bold.setBold(true);
  option.fontMetrics = QFontMetrics(bold);
  return header.style()
      ->sizeFromContents(QStyle::CT_HeaderSection, &option, QSize(), &header)
      .width();
}

void WidenColumnsToHeaders(QTableWidget& table) {
  QHeaderView& header = *table.horizontalHeader();
  for (int column = 0; column < header.count(); ++column) {
    if (header.sectionResizeMode(column) == QHeaderView::Stretch) continue;
    if (column == header.count() - 1 && header.stretchLastSection()) continue;
    table.setColumnWidth(column,
                         std::max(table.columnWidth(column), HeaderTextWidth(header, column)));
  }
}
