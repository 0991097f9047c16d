(function(){
'use strict';
var DASH='\u2014',DOTS='\u2026';

// Storage may be refused outright (privacy modes throw on access): every read
// then counts as absent, so the page still works without the fallbacks.
function stored(key){
  try{return window.localStorage.getItem(key)}catch(e){return null}
}
function storageReadable(){
  try{window.localStorage.getItem('kelm_theme');return true}catch(e){return false}
}

var P=new URLSearchParams(location.search);
function param(name){return P.get(name)||''}
var HUB=param('plugin');
var node=param('node');
var sid=param('id');
var pwd=param('pwd');
if(!pwd&&node)pwd=stored('kelm_pwd_'+node)||'';
if(!pwd)pwd=stored('kelm_active_pwd')||'';

var DATA={containers:[],summary:{}};
var LOG_CID='',LOG_NAME='';
// Requests are neither serialised nor cancelled. Each carries a sequence
// number of its kind, and a reply older than the one already shown is
// dropped, so a slow reply never overwrites what a newer one showed.
var listSent=0,listShown=0,logSent=0,logShown=0;

function $(id){return document.getElementById(id)}
function str(v){return v===undefined||v===null?'':String(v)}
function txt(id,v){$(id).textContent=(v===undefined||v===null||v==='')?DASH:String(v)}
function el(tag,cls,text){
  var e=document.createElement(tag);
  if(cls)e.className=cls;
  if(text!==undefined)e.textContent=text;
  return e;
}
function badge(text,good){
  var b=$('badge');
  b.textContent=text;
  b.className=good?'pill on':'pill off';
}
function note(text){$('note').textContent=text}
function failText(e){return 'request failed: '+String(e)}

function theme(t){
  if(!t)return;
  document.documentElement.setAttribute('data-theme',t);
  try{window.localStorage.setItem('kelm_theme',t)}catch(e){}
}

var base=HUB?'/plugins?plugin='+HUB:'/hullmon';
function withCtx(u){
  if(node)u+='&node='+encodeURIComponent(node);
  if(sid)u+='&id='+encodeURIComponent(sid);
  if(pwd)u+='&pwd='+encodeURIComponent(pwd);
  return u;
}
function url(action,extra){return withCtx(base+'?action='+encodeURIComponent(action)+(extra||''))}
// A browser refuses a header value outside ISO-8859-1, and with it the whole
// request: such a password travels in the pwd parameter alone.
function fitsHeader(s){
  for(var i=0;i<s.length;i++)if(s.charCodeAt(i)>0xff)return false;
  return true;
}
function headers(post){
  var h={};
  if(pwd&&fitsHeader(pwd))h['X-Kelm-Password']=pwd;
  if(post)h['Content-Type']='application/x-www-form-urlencoded';
  return h;
}
// Error replies carry JSON bodies too, so the body is parsed whatever the status.
function get(u){
  return fetch(u,{headers:headers(false)}).then(function(r){return r.json()});
}
function post(u,body){
  return fetch(u,{method:'POST',headers:headers(true),body:body}).then(function(r){return r.json()});
}

function refresh(){
  var my=++listSent;
  get(url('list')).then(function(j){
    if(my<listShown)return;
    listShown=my;
    DATA=j||{};
    var s=DATA.summary||{};
    txt('k-total',s.total);
    txt('k-run',s.running);
    txt('k-exit',s.exited);
    txt('k-pause',s.paused);
    var rt=DATA.runtime||{};
    $('k-rt').textContent=rt.available?(str(rt.label)||'yes'):'none';
    if(!rt.available){
      badge('no runtime',false);
      note(str(DATA.message)||'neither docker nor podman found on this node');
    }else if(DATA.daemon_available===false){
      badge('daemon down',false);
      note(str(DATA.error)||'runtime daemon is not reachable');
    }else{
      badge(str(rt.label)||'ready',true);
      note((s.total===undefined||s.total===null?0:s.total)+' container(s) on this node');
    }
    render();
  },function(e){
    if(my<listShown)return;
    listShown=my;
    badge('error',false);
    note(failText(e));
  });
}

function lowState(c){return str(c.state).toLowerCase()}

function matches(c){
  var want=$('state').value;
  if(want&&lowState(c)!==want)return false;
  var q=$('q').value.trim().toLowerCase();
  if(!q)return true;
  var hay=[str(c.name),str(c.image),str(c.id),str(c.ports)].join(' ').toLowerCase();
  return hay.indexOf(q)>=0;
}

// A row's buttons show only their operation; read out of the table, each
// also names its container (its 12-character id when it has no name).
function rowName(c){return str(c.name)||str(c.id).slice(0,12)}
function rowLabel(b,c){b.setAttribute('aria-label',b.textContent+' '+rowName(c))}

function opButton(c,op,cls){
  var b=el('button',cls,op);
  b.type='button';
  rowLabel(b,c);
  b.addEventListener('click',function(){act(c,op)});
  return b;
}

function render(){
  var tb=$('rows');
  while(tb.firstChild)tb.removeChild(tb.firstChild);
  var list=Array.isArray(DATA.containers)?DATA.containers:[];
  var shown=0;
  list.forEach(function(c){
    if(!c||!matches(c))return;
    var st=lowState(c);
    var tr=el('tr');
    tr.appendChild(el('td','mono',str(c.id).slice(0,12)));
    tr.appendChild(el('td','',str(c.name)));
    tr.appendChild(el('td','mono',str(c.image)));
    var sc=el('td');
    sc.appendChild(el('span','state '+st,str(c.state)));
    tr.appendChild(sc);
    tr.appendChild(el('td','mono',str(c.cpu)||DASH));
    tr.appendChild(el('td','mono',str(c.mem)||DASH));
    var acts=el('div','acts');
    if(st==='running'){
      acts.appendChild(opButton(c,'stop','sm danger'));
      acts.appendChild(opButton(c,'restart','sm ghost'));
    }else{
      acts.appendChild(opButton(c,'start','sm'));
    }
    var lb=el('button','sm ghost','logs');
    lb.type='button';
    rowLabel(lb,c);
    lb.addEventListener('click',function(){openLogs(c)});
    acts.appendChild(lb);
    var ac=el('td');
    ac.appendChild(acts);
    tr.appendChild(ac);
    tb.appendChild(tr);
    shown++;
  });
  $('empty').classList.toggle('hide',shown>0);
}

function act(c,op){
  var who=str(c.name)||str(c.id);
  var label=op+' '+who;
  if(op!=='start'&&!window.confirm(label+'?'))return;
  post(url('control'),'op='+encodeURIComponent(op)+'&cid='+encodeURIComponent(str(c.id))).then(function(j){
    j=j||{};
    if(j.ok!==true){
      var out=str(j.output);
      note((str(j.error)||'failed')+(out?': '+out:''));
    }else{
      note(label+' ok');
    }
    refresh();
  },function(e){
    note(failText(e));
  });
}

function showLogReply(j){
  j=j||{};
  $('logBody').textContent=j.ok===true?(str(j.text)||'(empty)'):'error: '+(str(j.error)||'unknown');
}

// A logs reply is shown only while its container is still the one opened and
// no newer logs reply has been shown.
function fetchLogs(cid,keepOnFailure){
  var my=++logSent;
  function current(){return cid===LOG_CID&&my>logShown}
  get(url('logs','&cid='+encodeURIComponent(cid))).then(function(j){
    if(!current())return;
    logShown=my;
    showLogReply(j);
  },function(e){
    if(keepOnFailure||!current())return;
    logShown=my;
    $('logBody').textContent=failText(e);
  });
}

function openLogs(c){
  LOG_CID=str(c.id);
  LOG_NAME=str(c.name)||LOG_CID;
  logOpener='logs '+rowName(c);
  $('logCard').classList.remove('hide');
  $('logTitle').textContent='Logs '+DASH+' '+LOG_NAME+' (last 100 lines)';
  $('logBody').textContent='loading'+DOTS;
  fetchLogs(LOG_CID,false);
}

// Closing the card hides the control that had focus: focus goes back to the
// logs button of the container shown, while the table still lists it, so a
// keyboard user carries on where they left.
var logOpener='';
function closeLogs(){
  var card=$('logCard'),had=card.contains(document.activeElement);
  card.classList.add('hide');
  if(!had)return;
  var bs=$('rows').querySelectorAll('button');
  for(var i=0;i<bs.length;i++)if(bs[i].getAttribute('aria-label')===logOpener){bs[i].focus();return}
}

// A browser that refuses storage keeps the theme the early theme script chose.
if(storageReadable())theme(stored('kelm_theme')||'dark');

$('themeBtn').addEventListener('click',function(){
  theme(document.documentElement.getAttribute('data-theme')==='light'?'dark':'light');
});
$('refreshBtn').addEventListener('click',refresh);
$('reloadBtn').addEventListener('click',refresh);
$('q').addEventListener('input',render);
$('q').addEventListener('keydown',function(e){if(e.key==='Enter')refresh()});
$('state').addEventListener('change',render);
$('logClose').addEventListener('click',closeLogs);
$('logReload').addEventListener('click',function(){if(LOG_CID)fetchLogs(LOG_CID,true)});

refresh();
})();
