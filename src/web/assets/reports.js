'use strict';
// The emission report of a day, a month or a year as a table, and the CSV and the PDF of a day or a month.
(() => {
  const { el, get, isoDate } = Korvex;
  const analyzer = document.getElementById('analyzer');
  const period = document.getElementById('period');
  const date = document.getElementById('date');
  const sep = document.getElementById('sep');
  const csv = document.getElementById('csv');
  const pdf = document.getElementById('pdf');
  date.value = Korvex.param('date') || isoDate(new Date());
  if (Korvex.param('period')) period.value = Korvex.param('period');

  function range() {
    const [y, m] = date.value.split('-').map(Number);
    if (period.value === 'month') {
      const last = new Date(y, m, 0).getDate();
      return [`${y}-${String(m).padStart(2, '0')}-01`, `${y}-${String(m).padStart(2, '0')}-${String(last).padStart(2, '0')}`];
    }
    return [date.value, date.value];
  }

  async function load() {
    if (!analyzer.value || !date.value) return;
    const [from, to] = range();
    csv.hidden = period.value === 'year';
    csv.href = '/api/report.csv?' + new URLSearchParams({ id: analyzer.value, from, to, sep: sep.value });
    pdf.hidden = period.value === 'year';
    pdf.href = '/api/report.pdf?' + new URLSearchParams({ id: analyzer.value, from, to });
    const r = await get('/api/report?' + new URLSearchParams({ id: analyzer.value, period: period.value, date: date.value }));
    document.getElementById('title').textContent = r.title;
    document.getElementById('notes').replaceChildren(...r.notes.map((n) => el('li', { text: n })));
    const table = document.getElementById('report');
    table.querySelector('thead').replaceChildren(el('tr', {}, ...r.headers.map((h) => el('th', { text: h }))));
    const body = table.querySelector('tbody');
    body.replaceChildren();
    for (const row of r.rows) {
      const tr = el('tr', { class: row.day && period.value === 'day' ? 'day' : '' });
      row.cells.forEach((c, i) => {
        const td = el('td', { text: c });
        if (i >= 2) {
          const k = Math.floor((i - 2) / 2);
          td.className = !row.valid[k] ? 'invalid' : row.exceedances[k];
        }
        tr.append(td);
      });
      body.append(tr);
    }
    document.getElementById('exceedances').replaceChildren(...r.exceedances.map((e) => el('li', { text: e })));
    document.getElementById('report').dataset.loaded = `${period.value} ${date.value}`;
  }

  Korvex.analyzerSelect(analyzer).then(load);
  for (const c of [analyzer, period, date, sep]) c.addEventListener('change', load);
})();
