// The registration script of "Quillon.Discovery".
#pragma once

inline constexpr char kDiscoveryRegistrationScript[] = R"(
HKCR
{
	Quillon.Discovery.1 = s 'Discovery Class'
	{
		CLSID = s '%CLSID%'
	}
	Quillon.Discovery = s 'Discovery Class'
	{
		CLSID = s '%CLSID%'
		CurVer = s 'Quillon.Discovery.1'
	}
	NoRemove CLSID
	{
		ForceRemove %CLSID% = s 'Discovery Class'
		{
			ProgID = s 'Quillon.Discovery.1'
			VersionIndependentProgID = s 'Quillon.Discovery'
			ForceRemove 'Programmable'
			InprocServer32 = s '%MODULE%'
			{
				val ThreadingModel = s 'Apartment'
			}
			'TypeLib' = s '%LIBID%'
		}
	}
}
)";
