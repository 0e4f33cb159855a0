'use strict';
// The events of an analyzer, newest first, with a text filter.
(() => {
  const { el, get, dateTime } = Korvex;
  const analyzer = document.getElementById('analyzer');
  const days = document.getElementById('days');
  const filter = document.getElementById('filter');
  let events = [];
  function show() {
    const f = filter.value.trim().toLowerCase();
    const body = document.querySelector('#events tbody');
    body.replaceChildren(...events.filter((e) => !f || e.text.toLowerCase().includes(f))
      .map((e) => el('tr', {}, el('td', { text: dateTime(e.time, e.offset) }), el('td', { text: e.text }))));
    if (!body.children.length) body.append(el('tr', {}, el('td', { text: 'Событий нет.', colspan: '2' })));
  }
  async function load() {
    if (!analyzer.value) return;
    events = await get('/api/events?' + new URLSearchParams({ id: analyzer.value, days: days.value }));
    show();
  }
  Korvex.analyzerSelect(analyzer).then(load);
  analyzer.addEventListener('change', load);
  days.addEventListener('change', load);
  filter.addEventListener('input', show);
})();
