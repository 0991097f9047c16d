(function(){
var d=document.documentElement,q='',t='',m=null;
try{q=String(location.search)}catch(e){}
m=/[?&]theme=(light|dark)/.exec(q);
if(m)t=m[1];
if(!t){try{var s=localStorage.getItem('kelm_theme');if(s==='light'||s==='dark')t=s}catch(e){}}
if(!t){try{t=window.matchMedia&&window.matchMedia('(prefers-color-scheme: light)').matches?'light':'dark'}catch(e){t='dark'}}
d.setAttribute('data-theme',t);
if(/[?&]embed=(1|true)(&|$)/.test(q))d.classList.add('embedded');
try{localStorage.setItem('kelm_theme',t)}catch(e){}
})();
