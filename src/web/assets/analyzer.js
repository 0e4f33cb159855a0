'use strict';
// One analyzer: the trend of the chosen channels (reduced to pixel columns by
// the server, fetched again for a zoomed span) and today's interval averages.
(() => {
  const { el, get, param, mean, hm, label } = Korvex;
  const id = param('id');
  const chartBox = document.getElementById('chart');
  const note = document.getElementById('trend-note');
  const names = ['Tg', 'O2', 'CO', 'NO', 'NO2', 'SO2', 'H2S', 'CO2', 'NOx', 'Qa', 'Alf', 'Ta', 'CO_mg', 'NOx_mg', 'SO2_mg', 'H2S_mg'];
  const titles = { CO_mg: 'CO мг/м³', NOx_mg: 'NOx мг/м³', SO2_mg: 'SO2 мг/м³', H2S_mg: 'H2S мг/м³' };
  const colors = ['#d62728', '#1f77b4', '#2ca02c', '#9467bd', '#8c564b', '#e377c2', '#7f7f7f', '#bcbd22', '#17becf', '#ff7f0e', '#393b79', '#637939', '#843c39', '#7b4173', '#3182bd', '#e6550d'];
  const stored = (localStorage.getItem('korvex-channels') || 'Tg,O2,CO,NO,NOx_mg').split(',');
  const boxes = document.getElementById('channels');
  for (const n of names) {
    const cb = el('input', { type: 'checkbox', value: n });
    cb.checked = stored.includes(n);
    boxes.append(el('label', {}, cb, ' ' + (titles[n] || n)));
  }
  const hours = document.getElementById('hours');
  let plot = null;
  let span = null;   // [from, to] ms of a zoom, or null: the last hours
  let request = 0;

  // Times on the chart in the 24-hour clock, the date where it changes.
  const two = (n) => String(n).padStart(2, '0');
  function stamp(sec) {
    const d = new Date(sec * 1000);
    return `${two(d.getDate())}.${two(d.getMonth() + 1)} ${two(d.getHours())}:${two(d.getMinutes())}:${two(d.getSeconds())}`;
  }
  function label24(sec, before) {
    const d = new Date(sec * 1000);
    const time = `${two(d.getHours())}:${two(d.getMinutes())}`;
    const day = before === null || new Date(before * 1000).getDate() !== d.getDate();
    return day ? `${time}\n${two(d.getDate())}.${two(d.getMonth() + 1)}` : time;
  }

  function chosen() { return [...boxes.querySelectorAll('input:checked')].map((c) => c.value); }

  async function load() {
    const ch = chosen();
    localStorage.setItem('korvex-channels', ch.join(','));
    const width = Math.max(200, Math.round(chartBox.clientWidth || 800));
    const q = new URLSearchParams({ id, w: String(width), ch: ch.join(',') });
    if (span) { q.set('from', String(Math.round(span[0]))); q.set('to', String(Math.round(span[1]))); } else q.set('hours', hours.value);
    const mine = ++request;
    const started = performance.now();
    const t = await get('/api/trend?' + q);
    if (mine !== request) return;
    draw(t, width);
    chartBox.dataset.points = String(t.t.length);
    chartBox.dataset.ms = String(Math.round(performance.now() - started));
    chartBox.dataset.drawn = String(mine);
    note.textContent = t.t.length ? `${t.t.length} точек${t.reduced ? ' (по столбцам пикселей)' : ''}` : 'Нет результатов за этот период.';
  }

  function draw(t, width) {
    const x = t.t.map((s) => t.from / 1000 + s);
    const data = [x, ...t.s];
    const series = [{ label: 'Время', value: (u, v) => (v === null ? '—' : stamp(v)) }, ...t.names.map((n) => ({ label: titles[n] || n, stroke: colors[names.indexOf(n)], width: 1, spanGaps: false, points: { show: false } }))];
    if (plot) plot.destroy();
    const opts = {
      width, height: Math.max(240, Math.min(420, Math.round(window.innerHeight * 0.5))),
      series,
      scales: { x: { time: true } },
      axes: [{ values: (u, splits) => splits.map((v, i) => label24(v, i ? splits[i - 1] : null)) }, { size: 60 }],
      cursor: { drag: { x: true, y: false } },
      hooks: {
        setSelect: [(u) => {
          if (u.select.width < 3) return;
          const from = u.posToVal(u.select.left, 'x') * 1000, to = u.posToVal(u.select.left + u.select.width, 'x') * 1000;
          u.setSelect({ width: 0, height: 0 }, false);
          span = [from, to];
          load();
        }],
      },
    };
    plot = new uPlot(opts, data, chartBox);
  }

  async function day() {
    const d = await get('/api/day?' + new URLSearchParams({ id }));
    const table = document.getElementById('day');
    const head = table.querySelector('thead'), body = table.querySelector('tbody');
    head.replaceChildren(el('tr', {}, ...['Интервал', 'Рез.', 'CO', 'NOx', 'SO2', 'H2S', 'Статус'].map((h) => el('th', { text: h }))));
    body.replaceChildren();
    for (const a of d.intervals.slice().reverse()) {
      const running = a.end > d.now;
      const row = el('tr', {}, el('td', { text: `${hm(a.start, a.startOffset)}–${hm(a.end, a.endOffset)}${running ? ' (идёт)' : ''}` }), el('td', { text: String(a.count) }));
      a.measured.forEach((c, i) => {
        const td = el('td', { text: !c.count ? '—' : c.valid ? mean(c.mean) : `(${mean(c.mean)})`, title: c.valid ? 'достоверно' : 'недостоверно' });
        td.className = !c.valid ? 'invalid' : a.exceedances[i];
        row.append(td);
      });
      const allValid = a.measured.every((c) => c.valid);
      row.append(el('td', { text: (a.validated ? 'проверено' : 'измерено') + (running ? '' : allValid ? ', достоверно' : ', недостоверно') }));
      body.append(row);
    }
  }

  async function title() {
    const list = await get('/api/analyzers');
    const a = list.find((x) => x.id === id);
    if (a) { document.getElementById('title').textContent = label(a); document.title = label(a) + ' — Korvex'; }
  }

  boxes.addEventListener('change', load);
  hours.addEventListener('change', () => { span = null; load(); });
  document.getElementById('reset').addEventListener('click', () => { span = null; load(); });
  let resize = 0;
  window.addEventListener('resize', () => { clearTimeout(resize); resize = setTimeout(load, 300); });
  // The trend first: the averages' table below it can wait for it.
  title();
  load().finally(day);
  setInterval(day, 60000);
})();
