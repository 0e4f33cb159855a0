'use strict';
// The audit trail with its filters; for engineers and administrators.
(() => {
  const { el, get, dateTime, isoDate } = Korvex;
  const from = document.getElementById('from'), to = document.getElementById('to');
  const week = new Date(Date.now() - 7 * 86400000);
  from.value = isoDate(week);
  to.value = isoDate(new Date());
  async function load(e) {
    if (e) e.preventDefault();
    const q = new URLSearchParams({
      from: String(new Date(from.value + 'T00:00:00').getTime()),
      to: String(new Date(to.value + 'T00:00:00').getTime() + 86400000),
      user: document.getElementById('user').value, action: document.getElementById('action').value,
    });
    const r = await get('/api/audit?' + q);
    document.getElementById('none').hidden = r.available;
    document.getElementById('audit').hidden = !r.available;
    document.querySelector('#audit tbody').replaceChildren(...r.entries.map((a) =>
      el('tr', {}, el('td', { text: dateTime(a.time, a.offset) }), el('td', { text: a.user }), el('td', { text: a.action }), el('td', { text: a.detail }))));
  }
  document.getElementById('controls').addEventListener('submit', load);
  load();
})();
