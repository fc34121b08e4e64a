// Column widths that hold their headers' texts, in whatever language and font they come.
#pragma once

class QHeaderView;
class QTableWidget;

// The width `section` of `header` needs to show its text whole, as the style draws it.
int HeaderTextWidth(const QHeaderView& header, int section);

// Widens every column of `table` whose width is its own (not stretched) to its header's text.
void WidenColumnsToHeaders(QTableWidget& table);
