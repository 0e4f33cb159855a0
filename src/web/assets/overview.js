'use strict';
// The overview: a card per analyzer, updated from the live stream.
(() => {
  const { el, num, mean, time, hm, codes, label } = Korvex;
  const cards = document.getElementById('cards');
  const shown = new Map();
  const lampText = { off: 'норма', prealarm: 'предупреждение', alarm: 'превышение', unknown: 'нормативы неизвестны' };

  // An invalid average in brackets, as the window shows it.
  function averageText(c) {
    if (!c || c.mean === null) return '—';
    return c.valid ? mean(c.mean) : `(${mean(c.mean)})`;
  }
  function average(title, a, withTime) {
    const row = el('tr', {}, el('th', { text: (a && withTime ? `${hm(a.start, a.startOffset)}–${hm(a.end, a.endOffset)}` : '') + title }));
    for (const c of (a ? a.measured : [null, null, null, null])) {
      const td = el('td', { text: averageText(c), title: c && !c.valid ? 'недостоверно' : '' });
      if (c && !c.valid) td.className = 'invalid';
      row.append(td);
    }
    return row;
  }

  function card(s) {
    const c = el('article', { class: 'card', id: `a-${s.id}`, 'data-seq': s.last ? String(s.last.seq) : '', 'data-time': s.last ? String(s.last.time) : '' });
    const lamp = el('span', { class: `lamp ${s.lamp}`, title: lampText[s.lamp] + (s.latched.length ? ': ' + s.latched.join('; ') : '') });
    c.append(el('header', {}, lamp, el('h2', {}, el('a', { href: `/analyzer?id=${encodeURIComponent(s.id)}`, text: label(s) }))));
    c.append(el('div', { class: 'state' + (s.linkOk ? '' : ' lost'), text: s.state || '' }));
    if (s.last) {
      const r = s.last;
      const flagged = r.status !== 0;
      c.append(el('div', { class: 'taken' }, `Результат ${time(r.time, r.offset)} `, el('span', { class: 'status' + (flagged ? ' flag' : ''), text: r.statusText })));
      const values = el('div', { class: 'values' });
      for (const ch of r.channels) {
        const v = ch.value === null ? (codes[ch.code] || '—') : num(ch.value);
        values.append(el('div', { 'data-ch': ch.name }, el('span', { class: 'n', text: ch.name + (ch.unit ? `, ${ch.unit.replace('degC', '°C')}` : '') }), el('span', { class: 'v', text: v })));
      }
      c.append(values);
      if (r.faults.length) c.append(el('div', { class: 'state lost', text: r.faults.join('; ') }));
    } else {
      c.append(el('p', { class: 'note', text: 'Результатов пока нет.' }));
    }
    const t = el('table', { class: 'grid small' });
    t.append(el('caption', { text: `Выбросы, мг/м³ при O2 обр.${s.last && s.last.o2Ref !== null ? ' ' + num(s.last.o2Ref) + ' %' : ''}` }));
    t.append(el('thead', {}, el('tr', {}, el('th', { text: '' }), el('th', { text: 'CO' }), el('th', { text: 'NOx' }), el('th', { text: 'SO2' }), el('th', { text: 'H2S' }))));
    const body = el('tbody');
    const now = el('tr', {}, el('th', { text: 'Сейчас' }));
    for (const v of (s.last ? s.last.emissions : [null, null, null, null])) now.append(el('td', { text: mean(v) }));
    body.append(now, average(' идёт', s.running, true), average('', s.lastInterval, true), average('Сутки', s.today, false));
    const validated = el('tr', {}, el('th', { text: 'Проверенные' }));
    const v = s.lastInterval && s.lastInterval.validated;
    for (let i = 0; i < 4; ++i) validated.append(el('td', { text: v ? averageText(v[i]) : '—' }));
    body.append(validated);
    t.append(body);
    c.append(el('div', { class: 'scroll' }, t));
    return c;
  }

  function show(s) {
    const c = card(s);
    const old = shown.get(s.id);
    if (old) old.replaceWith(c); else cards.append(c);
    shown.set(s.id, c);
    document.getElementById('empty').hidden = shown.size > 0;
  }

  function showAll(list) {
    for (const s of list) show(s);
    document.getElementById('empty').hidden = list.length > 0;
  }

  const live = document.getElementById('live');
  const source = new EventSource('/api/stream');
  source.addEventListener('overview', (e) => { live.classList.add('on'); showAll(JSON.parse(e.data)); });
  source.addEventListener('analyzer', (e) => show(JSON.parse(e.data)));
  source.addEventListener('removed', (e) => { for (const id of JSON.parse(e.data)) { const c = shown.get(id); if (c) c.remove(); shown.delete(id); } });
  source.addEventListener('error', () => {
    live.classList.remove('on');
    // A stream refused for want of a login does not come back by itself.
    Korvex.get('/api/me').catch(() => {});
  });
})();
