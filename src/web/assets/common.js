'use strict';
// Shared by every page: fetching JSON, numbers and times as the operator reads them, the header.
const Korvex = (() => {
  const fmt = new Intl.NumberFormat('ru-RU', { maximumFractionDigits: 2 });
  const fmt1 = new Intl.NumberFormat('ru-RU', { minimumFractionDigits: 1, maximumFractionDigits: 1 });
  const pad = (n) => String(n).padStart(2, '0');
  // A time in the analyzer's own local clock: utc ms plus its offset in seconds.
  function localParts(ms, offset) {
    const d = new Date(ms + offset * 1000);
    return { y: d.getUTCFullYear(), mo: d.getUTCMonth() + 1, d: d.getUTCDate(), h: d.getUTCHours(), mi: d.getUTCMinutes(), s: d.getUTCSeconds() };
  }
  function time(ms, offset) { const p = localParts(ms, offset); return `${pad(p.h)}:${pad(p.mi)}:${pad(p.s)}`; }
  function hm(ms, offset) { const p = localParts(ms, offset); return `${pad(p.h)}:${pad(p.mi)}`; }
  function dateTime(ms, offset) { const p = localParts(ms, offset); return `${pad(p.d)}.${pad(p.mo)}.${p.y} ${pad(p.h)}:${pad(p.mi)}:${pad(p.s)}`; }
  function isoDate(d) { return `${d.getFullYear()}-${pad(d.getMonth() + 1)}-${pad(d.getDate())}`; }
  function num(v) { return v === null || v === undefined ? '—' : fmt.format(v); }
  function mean(v) { return v === null || v === undefined ? '—' : fmt1.format(v); }
  const codes = { overload: 'перег.', error: 'ошиб.', novalue: '-----' };
  async function get(url) {
    const r = await fetch(url, { credentials: 'same-origin', cache: 'no-store' });
    if (r.status === 401) { location.href = '/login'; throw new Error('login'); }
    if (!r.ok) throw new Error(`${r.status}`);
    return r.json();
  }
  function el(tag, attrs, ...children) {
    const e = document.createElement(tag);
    for (const [k, v] of Object.entries(attrs || {})) {
      if (k === 'class') e.className = v; else if (k === 'text') e.textContent = v; else e.setAttribute(k, v);
    }
    for (const c of children) e.append(c);
    return e;
  }
  function param(name) { return new URLSearchParams(location.search).get(name); }
  async function header() {
    const page = document.body.dataset.page;
    for (const a of document.querySelectorAll('[data-nav]')) if (a.dataset.nav === page) a.classList.add('current');
    try {
      const me = await get('/api/me');
      if (me.audit) for (const a of document.querySelectorAll('.audit-link')) a.hidden = false;
      const who = document.getElementById('who');
      if (who && me.login) { who.append(`${me.user} (${me.role}) `); who.append(el('a', { href: '/logout', text: 'Выйти' })); }
    } catch (e) { /* the login page follows */ }
  }
  async function analyzerSelect(select) {
    const list = await get('/api/analyzers');
    for (const a of list) select.append(el('option', { value: a.id, text: label(a) }));
    const wanted = param('id');
    if (wanted) select.value = wanted;
    return list;
  }
  function label(a) { return [a.site, a.name].filter(Boolean).join(' / ') || `Анализатор ${a.address}`; }
  document.addEventListener('DOMContentLoaded', header);
  return { time, hm, dateTime, isoDate, num, mean, codes, get, el, param, analyzerSelect, label };
})();
