#include "device/fuel_table.h"

FuelTable builtInFuelTable() {
  // "AНТРАЦИТ" begins with a Latin A, as the analyzer's documentation writes it.
  return {{
      {2010, 11800, 810, 833, 780, 1000, 3, QStringLiteral(u"ПРИРОДНЫЙ ГАЗ")},
      {2080, 14000, 850, 833, 780, 1000, 3, QStringLiteral(u"СЖИЖЕННЫЙ ГАЗ")},
      {2050, 13000, 840, 833, 780, 1000, 3, QStringLiteral(u"НЕФТЕПРОМЫСЛОВЫЙ ГАЗ")},
      {2090, 10400, 770, 833, 780, 1090, 3, QStringLiteral(u"КОКСОВЫЙ ГАЗ")},
      {1950, 16200, 820, 833, 780, 1000, 3, QStringLiteral(u"СЛАНЦЕВЫЙ ГАЗ")},
      {1470, 24500, 980, 844, 794, 620, 3, QStringLiteral(u"ДОМЕННЫЙ ГАЗ")},
      {2098, 15600, 870, 833, 780, 975, 3, QStringLiteral(u"ДИЗЕЛЬНОЕ ТОПЛИВО")},
      {2115, 16300, 880, 833, 780, 965, 3, QStringLiteral(u"МАЗУТ")},
      {2160, 20200, 950, 833, 780, 915, 3, QStringLiteral(u"A\u041D\u0422\u0420\u0410\u0426\u0418\u0422")},
      {2050, 18700, 890, 833, 780, 940, 3, QStringLiteral(u"КАМЕННЫЙ УГОЛЬ")},
      {1610, 20500, 750, 844, 794, 875, 3, QStringLiteral(u"ДРОВА СУХИЕ")},
      {1970, 19500, 860, 844, 794, 930, 3, QStringLiteral(u"ТОРФ")},
  }};
}

std::vector<double> o2References(const FuelTable& table) {
  std::vector<double> refs;
  refs.reserve(table.size());
  for (const FuelRow& row : table) refs.push_back(double(row.o2Ref));
  return refs;
}
